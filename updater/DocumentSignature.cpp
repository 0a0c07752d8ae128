#include "updater/DocumentSignature.h"

#include <windows.h>

#include <cstring>

#include "http/MemoryDownload.h"
#include "support/TextConvert.h"
#include "updater/DownloadLimits.h"
#include "updater/SigningKey.h"

bool SignedByBuiltInKey(const unsigned char (&digest)[kSha256Bytes],
                        const unsigned char (&signature)[kP256SignatureBytes]) {
    const SigningKeys keys = BuiltInSigningKeys();
    for (size_t k = 0; k < keys.count; ++k) {
        if (P256SignatureValid(keys.keys[k], digest, signature)) return true;
    }
    return false;
}

bool DocumentSignedByStudio(const std::wstring& documentUrl, const std::string& document) {
    if (!SigningKeyBuiltIn()) return false;
    std::wstring url = documentUrl + L".sig?tick=" + DecimalText(static_cast<int>(GetTickCount()));
    DWORD error = ERROR_SUCCESS;
    std::string body;
    // Exactly one signature's bytes: an error page or anything longer is no signature, and
    // is refused before more than that is held.
    if (DownloadToMemory(url, DownloadLimits(DownloadKind::Document), kP256SignatureBytes, body,
                         error) != DownloadResult::Complete ||
        body.size() != kP256SignatureBytes)
        return false;
    unsigned char signature[kP256SignatureBytes];
    std::memcpy(signature, body.data(), kP256SignatureBytes);
    unsigned char digest[kSha256Bytes];
    return Sha256OfBytes(document.data(), document.size(), digest) &&
           SignedByBuiltInKey(digest, signature);
}
