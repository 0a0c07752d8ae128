#include "updater/XmlFetch.h"

#include <windows.h>

#include "http/FileDownload.h"
#include "support/Log.h"
#include "support/TextConvert.h"
#include "updater/DocumentSignature.h"
#include "updater/DownloadLimits.h"
#include "updater/SigningKey.h"
#include "updater/TempAreaLock.h"
#include "updater/XmlLimits.h"

namespace {

constexpr int kAttempts = 3;

std::wstring WithTick(const std::wstring& baseUrl) {
    return baseUrl + L"?tick=" + DecimalText(static_cast<int>(GetTickCount()));
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
    // Another game may be using the same temporary file name right now.
    TempAreaLock tempArea;
    if (!tempArea.Acquire(kTempAreaDocumentWaitMs)) {
        WriteLog("bx.log", "a", failureMessage, static_cast<int>(ERROR_TIMEOUT));
        return nullptr;
    }
    std::string narrowPath;
    WideToAnsi(tempPath.c_str(), narrowPath);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        DeleteFileW(tempPath.c_str());
        std::wstring url = WithTick(baseUrl);
        DWORD error = ERROR_SUCCESS;
        DownloadResult result =
            DownloadToFile(url, tempPath, DownloadLimits(DownloadKind::Document), error);
        if (result == DownloadResult::SessionFailed) continue;  // not logged
        if (result == DownloadResult::Failed) {
            WriteLog("bx.log", "a", failureMessage, static_cast<int>(error));
            continue;
        }
        // With a studio's key built in, a document is read only when its signature is good.
        if (SigningKeyBuiltIn() && !DocumentSignedByStudio(baseUrl, tempPath)) {
            std::string narrowUrl;
            WideToAnsi(baseUrl.c_str(), narrowUrl);
            WriteLog("bx.log", "a", "signature refused (%s)\n", narrowUrl.c_str());
            continue;
        }
        // An oversized or too deeply nested document fails like one that does not parse.
        if (!XmlFileWithinLimits(tempPath)) continue;
        if (!document.LoadFile(narrowPath.c_str(), TIXML_ENCODING_UNKNOWN) || document.Error())
            continue;
        const TiXmlElement* root = document.FirstChildElement("root");
        if (root != nullptr) return root;
    }
    // A document that arrived but is of no use (an error page, a cut one) is not left behind.
    DeleteFileW(tempPath.c_str());
    return nullptr;
}
