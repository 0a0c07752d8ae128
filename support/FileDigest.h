// MD5 digest texts of files and buffers: 32 lowercase hex digits and a NUL, so every out
// buffer holds at least 33 characters. Results are 1 for a digest and 0 for none.
#pragma once

#include <windows.h>

// Opens the file for shared reading. An empty path fails without touching the file system.
unsigned Md5OfFile(char* out, const wchar_t* path);

// Hashes the whole file from its start, in fixed chunks so that no size needs one buffer
// of its own. An empty file has no digest here, nor has a file that reads short.
unsigned Md5OfHandle(char* out, HANDLE file);

// Always succeeds.
unsigned Md5OfBuffer(char* out, const unsigned char* data, unsigned length);

// True only when the file's digest exists and its text equals expected exactly: lower
// case, 32 characters, nothing after them.
bool FileMatchesMd5(const char* expected, const wchar_t* path);
