#include "support/FileDigest.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "support/Md5.h"
#include "support/ScopedHandle.h"

namespace {

constexpr DWORD kChunkBytes = 1u << 20;  // a multiple of the MD5 block: hashed in place
constexpr size_t kDigestTextChars = 2 * Md5::kDigestBytes + 1;

void WriteDigestText(char* out, const unsigned char* digest) {
    static const char kHex[] = "0123456789abcdef";
    for (size_t i = 0; i < Md5::kDigestBytes; ++i) {
        out[2 * i] = kHex[digest[i] >> 4];
        out[2 * i + 1] = kHex[digest[i] & 0x0f];
    }
    out[2 * Md5::kDigestBytes] = '\0';
}

}  // namespace

unsigned Md5OfFile(char* out, const wchar_t* path) {
    if (path == nullptr || path[0] == L'\0') return 0;
    ScopedFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    return Md5OfHandle(out, file.Get());
}

unsigned Md5OfHandle(char* out, HANDLE file) {
    if (file == INVALID_HANDLE_VALUE || file == nullptr) return 0;
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return 0;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0) return 0;
    uint64_t remaining = static_cast<uint64_t>(size.QuadPart);

    try {
        std::vector<unsigned char> chunk(remaining < kChunkBytes ? static_cast<size_t>(remaining)
                                                                 : kChunkBytes);
        Md5 md5;
        while (remaining > 0) {
            DWORD want = remaining < kChunkBytes ? static_cast<DWORD>(remaining) : kChunkBytes;
            DWORD got = 0;
            // A short read means the file changed under us; its digest would be of neither.
            if (!ReadFile(file, chunk.data(), want, &got, nullptr) || got != want) return 0;
            md5.Update(chunk.data(), got);
            remaining -= got;
        }
        unsigned char digest[Md5::kDigestBytes];
        md5.Final(digest);
        WriteDigestText(out, digest);
        return 1;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

unsigned Md5OfBuffer(char* out, const unsigned char* data, unsigned length) {
    Md5 md5;
    md5.Update(data, length);
    unsigned char digest[Md5::kDigestBytes];
    md5.Final(digest);
    WriteDigestText(out, digest);
    return 1;
}

bool FileMatchesMd5(const char* expected, const wchar_t* path) {
    if (expected == nullptr) return false;
    char actual[kDigestTextChars];
    if (Md5OfFile(actual, path) == 0) return false;
    // The computed text ends at position 32, so this is whole-text equality.
    return std::strncmp(expected, actual, kDigestTextChars) == 0;
}
