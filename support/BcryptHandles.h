// Owners for the CNG handles the digests and the signature check open.
#pragma once

#include <windows.h>

#include <bcrypt.h>

#include "support/ScopedHandle.h"

struct BcryptAlgorithmTraits {
    using Handle = BCRYPT_ALG_HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::BCryptCloseAlgorithmProvider(h, 0); }
};

struct BcryptHashTraits {
    using Handle = BCRYPT_HASH_HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::BCryptDestroyHash(h); }
};

struct BcryptKeyTraits {
    using Handle = BCRYPT_KEY_HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::BCryptDestroyKey(h); }
};

using ScopedBcryptAlgorithm = ScopedHandle<BcryptAlgorithmTraits>;
using ScopedBcryptHash = ScopedHandle<BcryptHashTraits>;
using ScopedBcryptKey = ScopedHandle<BcryptKeyTraits>;

// The provider of the named algorithm, or an empty owner when the platform has none.
inline ScopedBcryptAlgorithm OpenBcryptAlgorithm(const wchar_t* algorithm) {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0)))
        return ScopedBcryptAlgorithm();
    return ScopedBcryptAlgorithm(handle);
}
