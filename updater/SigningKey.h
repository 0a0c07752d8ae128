// The studio's public keys for signed updates, fixed when the library is built (CMake cache
// variable ORVEX_SIGNING_PUBLIC_KEY, up to kMaxSigningKeys of them, so a studio can move to a
// new key while bridges with the old one are still out). Without one the updater reads
// unsigned documents as it always did.
#pragma once

#include <cstddef>

#include "support/P256Signature.h"

constexpr size_t kMaxSigningKeys = 4;

struct SigningKeys {
    const unsigned char (*keys)[kP256PublicKeyBytes];  // count keys, or null
    size_t count;
};

// The keys built in; count 0 when the library was built without any.
SigningKeys BuiltInSigningKeys();

inline bool SigningKeyBuiltIn() { return BuiltInSigningKeys().count > 0; }

// True when any built-in key signed the digest.
bool SignedByBuiltInKey(const unsigned char (&digest)[kSha256Bytes],
                        const unsigned char (&signature)[kP256SignatureBytes]);
