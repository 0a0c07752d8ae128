#include "support/P256Signature.h"

#include <windows.h>

#include <cstring>

#include "support/BcryptHandles.h"

namespace {

// What BCryptImportKeyPair takes for a public key: the header, then X and Y.
struct P256PublicBlob {
    BCRYPT_ECCKEY_BLOB header;
    unsigned char point[kP256PublicKeyBytes];
};

}  // namespace

bool P256SignatureValid(const unsigned char (&publicKey)[kP256PublicKeyBytes],
                        const unsigned char (&digest)[kSha256Bytes],
                        const unsigned char (&signature)[kP256SignatureBytes]) {
    ScopedBcryptAlgorithm algorithm = OpenBcryptAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!algorithm) return false;
    P256PublicBlob blob = {};
    blob.header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    blob.header.cbKey = kP256PublicKeyBytes / 2;
    std::memcpy(blob.point, publicKey, sizeof(blob.point));
    BCRYPT_KEY_HANDLE handle = nullptr;
    if (!BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB,
                                            &handle, reinterpret_cast<PUCHAR>(&blob), sizeof(blob),
                                            0)))
        return false;
    ScopedBcryptKey key(handle);
    // The platform's declaration takes non-const buffers that it only reads.
    return BCRYPT_SUCCESS(BCryptVerifySignature(key.Get(), nullptr, const_cast<PUCHAR>(digest),
                                                kSha256Bytes, const_cast<PUCHAR>(signature),
                                                kP256SignatureBytes, 0));
}
