// One number for a directory tree, so the test core can report which installation it was
// loaded from and a test can tell that installation from every other: FNV-1a 64 over every
// directory and file below the root in name order, with each file's size, read-only bit and
// bytes. A "core_calls.log" in the root (the test core's own record) is left out.
// Plain Win32 and the standard library only: the test core modules link it too.
#pragma once

#include <cstdint>
#include <string>

// The digest of the tree below dir; an empty or missing directory gives the same value.
std::uint64_t TreeDigest(const std::wstring& dir);
// The digest as the core logs it: 16 lower-case hex digits.
std::string TreeDigestText(const std::wstring& dir);
// Every entry below dir with what the digest covers, one per line: for failure messages.
std::string TreeListing(const std::wstring& dir);
