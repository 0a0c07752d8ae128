// The studio's public key for signed updates, fixed when the library is built (CMake cache
// variable ORVEX_SIGNING_PUBLIC_KEY). Without one the updater reads unsigned documents as
// it always did.
#pragma once

#include "support/P256Signature.h"

// The key, or null when the library was built without one.
const unsigned char (*BuiltInSigningKey())[kP256PublicKeyBytes];

inline bool SigningKeyBuiltIn() { return BuiltInSigningKey() != nullptr; }
