// The MD5 text of bytes in memory, as the check list writes it, for tests and benchmarks.
#pragma once

#include <string>

#include "support/FileDigest.h"

inline std::string Md5Text(const std::string& bytes) {
    char text[33];
    Md5OfBuffer(text, reinterpret_cast<const unsigned char*>(bytes.data()),
                static_cast<unsigned>(bytes.size()));
    return text;
}
