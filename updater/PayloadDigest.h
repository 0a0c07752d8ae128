// The check of a downloaded package, patch or repair file against the SHA-256 that the
// manifest or the check list gives for it, before it is unpacked or put in place.
#pragma once

#include <string>

// True when expected is empty (the document gives no digest) or the file matches it.
// Otherwise the file is deleted, "bx.log" gets "sha256 mismatch (<url>)", and false.
bool PayloadMatchesDigest(const std::string& expected, const std::wstring& file,
                          const std::wstring& url);
