#include "support/Sha256.h"

#include <windows.h>

#include <new>
#include <vector>

#include "support/BcryptHandles.h"

namespace {

constexpr DWORD kChunkBytes = 64 * 1024;
constexpr size_t kTextChars = 2 * kSha256Bytes;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool HashFile(HANDLE file, BCRYPT_HASH_HANDLE hash) {
    std::vector<unsigned char> chunk(kChunkBytes);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk.data(), kChunkBytes, &got, nullptr)) return false;
        if (got == 0) return true;
        if (!BCRYPT_SUCCESS(BCryptHashData(hash, chunk.data(), got, 0))) return false;
    }
}

bool Finish(BCRYPT_HASH_HANDLE hash, unsigned char (&digest)[kSha256Bytes]) {
    return BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, kSha256Bytes, 0));
}

bool DigestMatchesText(const char* expected, const unsigned char (&digest)[kSha256Bytes]) {
    for (size_t i = 0; i < kSha256Bytes; ++i) {
        int value = HexValue(expected[2 * i]) * 16 + HexValue(expected[2 * i + 1]);
        if (value != digest[i]) return false;
    }
    return true;
}

}  // namespace

bool Sha256OfBytes(const void* data, size_t length, unsigned char (&digest)[kSha256Bytes]) {
    ScopedBcryptAlgorithm algorithm = OpenBcryptAlgorithm(BCRYPT_SHA256_ALGORITHM);
    if (!algorithm) return false;
    BCRYPT_HASH_HANDLE handle = nullptr;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm.Get(), &handle, nullptr, 0, nullptr, 0, 0)))
        return false;
    ScopedBcryptHash hash(handle);
    // The provider takes a ULONG per call: a larger buffer goes in pieces.
    const unsigned char* at = static_cast<const unsigned char*>(data);
    while (length > 0) {
        ULONG piece = length > 0x40000000u ? 0x40000000u : static_cast<ULONG>(length);
        if (!BCRYPT_SUCCESS(BCryptHashData(hash.Get(), const_cast<PUCHAR>(at), piece, 0)))
            return false;
        at += piece;
        length -= piece;
    }
    return Finish(hash.Get(), digest);
}

bool Sha256OfFile(const wchar_t* path, unsigned char (&digest)[kSha256Bytes]) {
    if (path == nullptr || path[0] == L'\0') return false;
    // No writer may open it while it is read, so the digest is of one content.
    ScopedFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    ScopedBcryptAlgorithm algorithm = OpenBcryptAlgorithm(BCRYPT_SHA256_ALGORITHM);
    if (!algorithm) return false;
    BCRYPT_HASH_HANDLE handle = nullptr;
    // The provider keeps the hash object itself.
    if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm.Get(), &handle, nullptr, 0, nullptr, 0, 0)))
        return false;
    ScopedBcryptHash hash(handle);
    try {
        if (!HashFile(file.Get(), hash.Get())) return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return Finish(hash.Get(), digest);
}

bool IsSha256Text(const char* text) {
    if (text == nullptr) return false;
    for (size_t i = 0; i < kTextChars; ++i) {
        if (HexValue(text[i]) < 0) return false;  // also stops at an early NUL
    }
    return text[kTextChars] == '\0';
}

bool FileMatchesSha256(const char* expected, const wchar_t* path) {
    if (!IsSha256Text(expected)) return false;
    unsigned char digest[kSha256Bytes];
    return Sha256OfFile(path, digest) && DigestMatchesText(expected, digest);
}

bool BytesMatchSha256(const char* expected, const void* data, size_t length) {
    if (!IsSha256Text(expected)) return false;
    unsigned char digest[kSha256Bytes];
    return Sha256OfBytes(data, length, digest) && DigestMatchesText(expected, digest);
}
