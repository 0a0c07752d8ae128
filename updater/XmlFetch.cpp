#include "updater/XmlFetch.h"

#include <windows.h>

#include "http/MemoryDownload.h"
#include "support/Log.h"
#include "support/Sha256.h"
#include "support/TextConvert.h"
#include "updater/DocumentSignature.h"
#include "updater/DownloadLimits.h"
#include "updater/SigningKey.h"
#include "updater/XmlLimits.h"

namespace {

constexpr int kAttempts = 3;

std::wstring WithTick(const std::wstring& baseUrl) {
    return baseUrl + L"?tick=" + DecimalText(static_cast<int>(GetTickCount()));
}

void LogRefusal(const char* format, const std::wstring& url) {
    std::string narrowUrl;
    WideToAnsi(url.c_str(), narrowUrl);
    WriteLog("bx.log", "a", format, narrowUrl.c_str());
}

// With a studio's key built in, a document is read only when its signature is good, or when
// it is exactly the one a verified document pinned.
bool Trusted(const std::wstring& baseUrl, const std::string& bytes, const DocumentTrust& trust) {
    if (!SigningKeyBuiltIn()) return true;
    if (!trust.pinnedSha256.empty()) {
        if (BytesMatchSha256(trust.pinnedSha256.c_str(), bytes.data(), bytes.size())) return true;
        LogRefusal("checklist_sha256 mismatch (%s)\n", baseUrl);
        return false;
    }
    if (DocumentSignedByStudio(baseUrl, bytes)) return true;
    LogRefusal("signature refused (%s)\n", baseUrl);
    return false;
}

}  // namespace

bool ParseXmlBytes(const std::string& bytes, TiXmlDocument& document) {
    document.Clear();
    document.ClearError();
    // An oversized or too deeply nested document fails like one that does not parse.
    if (bytes.empty() || !XmlTextWithinLimits(bytes)) return false;
    // Line ends as the parser's file reading leaves them: CR LF and a lone CR become LF.
    std::string text;
    text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size() && bytes[i] != '\0'; ++i) {
        if (bytes[i] != '\r') {
            text.push_back(bytes[i]);
            continue;
        }
        text.push_back('\n');
        if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    }
    document.Parse(text.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
    return !document.Error();
}

const TiXmlElement* FetchXmlDocument(const std::wstring& baseUrl, const char* failureMessage,
                                     TiXmlDocument& document, const DocumentTrust& trust) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::string bytes;
        DWORD error = ERROR_SUCCESS;
        DownloadResult result =
            DownloadToMemory(WithTick(baseUrl), DownloadLimits(DownloadKind::Document),
                             kMaxXmlDocumentBytes, bytes, error);
        if (result == DownloadResult::SessionFailed) continue;  // not logged
        if (result == DownloadResult::Failed) {
            WriteLog("bx.log", "a", failureMessage, static_cast<int>(error));
            continue;
        }
        if (!Trusted(baseUrl, bytes, trust) || !ParseXmlBytes(bytes, document)) continue;
        const TiXmlElement* root = document.FirstChildElement("root");
        if (root == nullptr) continue;
        if (SigningKeyBuiltIn() && trust.acceptRoot != nullptr && !trust.acceptRoot(*root))
            continue;
        return root;
    }
    return nullptr;
}
