// SHA-256 of files through the platform's CNG provider, and the comparison with a digest
// text as the update documents give it: 64 hexadecimal digits of either case.
#pragma once

#include <cstddef>

constexpr size_t kSha256Bytes = 32;

// The digest of the whole file, read in fixed chunks so that no size needs one buffer of its
// own. False when the file cannot be read to its end or the platform has no SHA-256.
bool Sha256OfFile(const wchar_t* path, unsigned char (&digest)[kSha256Bytes]);

// The digest of length bytes at data. False when the platform has no SHA-256.
bool Sha256OfBytes(const void* data, size_t length, unsigned char (&digest)[kSha256Bytes]);

// True for exactly 64 hexadecimal digits, of either case, and nothing else.
bool IsSha256Text(const char* text);

// True only when expected is a digest text and equals the file's digest.
bool FileMatchesSha256(const char* expected, const wchar_t* path);

// True only when expected is a digest text and equals the digest of the bytes.
bool BytesMatchSha256(const char* expected, const void* data, size_t length);
