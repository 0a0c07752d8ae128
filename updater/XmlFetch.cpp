#include "updater/XmlFetch.h"

#include <windows.h>

#include "http/HttpDownloadRequest.h"
#include "http/HttpSession.h"
#include "support/Log.h"
#include "support/TextConvert.h"
#include "updater/XmlLimits.h"

namespace {

constexpr int kAttempts = 3;
constexpr int kTimeoutMs = 10000;
constexpr DWORD kBodyTimeLimitMs = 10000;
constexpr unsigned kPathCapacity = 10240;

std::wstring WithTick(const std::wstring& baseUrl) {
    return baseUrl + L"?tick=" + DecimalText(static_cast<int>(GetTickCount()));
}

// One download into tempPath; on failure logs the line and removes the partial file.
bool Download(const std::wstring& url, const std::wstring& tempPath, const char* failureMessage,
              HttpSession& session) {
    vek::HttpDownloadRequest request(&session, kPathCapacity);
    request.SetTimeLimit(kBodyTimeLimitMs);
    if (request.OpenTargetFile(tempPath.c_str()) &&
        request.Open(url.c_str(), vek::HttpRequest::VerbGet) && request.Send(nullptr, 0)) {
        return true;
    }
    DWORD error = GetLastError();
    WriteLog("bx.log", "a", failureMessage, static_cast<int>(error));
    // The file is opened without delete sharing: close it so the delete can succeed.
    request.CloseTargetFile();
    DeleteFileW(tempPath.c_str());
    return false;
}

}  // namespace

std::wstring TempFilePath(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    return std::wstring(temp, length) + name;
}

const TiXmlElement* FetchXmlDocument(const std::wstring& baseUrl, const std::wstring& tempPath,
                                     const char* failureMessage, TiXmlDocument& document) {
    if (tempPath.empty()) return nullptr;
    std::string narrowPath;
    WideToAnsi(tempPath.c_str(), narrowPath);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        DeleteFileW(tempPath.c_str());
        std::wstring url = WithTick(baseUrl);
        HttpSession session;
        if (!session.Open()) continue;
        session.SetTimeouts(kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs);
        if (!Download(url, tempPath, failureMessage, session)) continue;
        // An oversized or too deeply nested document fails like one that does not parse.
        if (!XmlFileWithinLimits(tempPath)) continue;
        if (!document.LoadFile(narrowPath.c_str(), TIXML_ENCODING_UNKNOWN) || document.Error())
            continue;
        const TiXmlElement* root = document.FirstChildElement("root");
        if (root != nullptr) return root;
    }
    return nullptr;
}
