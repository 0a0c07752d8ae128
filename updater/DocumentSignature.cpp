#include "updater/DocumentSignature.h"

#include <windows.h>

#include "http/FileDownload.h"
#include "support/ScopedHandle.h"
#include "support/TextConvert.h"
#include "updater/DownloadLimits.h"
#include "updater/SigningKey.h"

namespace {

// Exactly one signature's bytes: an error page or anything longer is no signature.
bool ReadSignature(const std::wstring& path, unsigned char (&signature)[kP256SignatureBytes]) {
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !GetFileSizeEx(file.Get(), &size) || size.QuadPart != kP256SignatureBytes)
        return false;
    DWORD got = 0;
    return ReadFile(file.Get(), signature, kP256SignatureBytes, &got, nullptr) &&
           got == kP256SignatureBytes;
}

}  // namespace

bool DocumentSignedByStudio(const std::wstring& documentUrl, const std::wstring& documentPath) {
    const unsigned char(*key)[kP256PublicKeyBytes] = BuiltInSigningKey();
    if (key == nullptr) return false;
    std::wstring signaturePath = documentPath + L".sig";
    std::wstring url = documentUrl + L".sig?tick=" + DecimalText(static_cast<int>(GetTickCount()));
    DWORD error = ERROR_SUCCESS;
    bool valid = false;
    if (DownloadToFile(url, signaturePath, DownloadLimits(DownloadKind::Document), error) ==
        DownloadResult::Complete) {
        unsigned char signature[kP256SignatureBytes];
        unsigned char digest[kSha256Bytes];
        valid = ReadSignature(signaturePath, signature) &&
                Sha256OfFile(documentPath.c_str(), digest) &&
                P256SignatureValid(*key, digest, signature);
    }
    DeleteFileW(signaturePath.c_str());
    return valid;
}
