// ECDSA P-256 signature checks through the platform's CNG provider.
#pragma once

#include <cstddef>

#include "support/Sha256.h"

constexpr size_t kP256PublicKeyBytes = 64;  // the point's X then Y, big-endian
constexpr size_t kP256SignatureBytes = 64;  // r then s, big-endian

// True only when signature is publicKey's signature of the SHA-256 digest. False for a
// key the platform does not take, and when the platform has no ECDSA P-256.
bool P256SignatureValid(const unsigned char (&publicKey)[kP256PublicKeyBytes],
                        const unsigned char (&digest)[kSha256Bytes],
                        const unsigned char (&signature)[kP256SignatureBytes]);
