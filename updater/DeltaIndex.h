// The index of a delta archive ("orvex_delta.txt" at its root): which version it applies to,
// which version it makes, and for each changed or added file how it is made.
//   orvex-delta 1
//   from <base version>
//   to <version>
//   <method> <window_log> <base_sha256> <result_sha256> <result_size> <path>
// LF line ends, one space between fields, the path the rest of the line, "/"-separated.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

constexpr const wchar_t* kDeltaIndexName = L"orvex_delta.txt";
// The index is read into memory: far more than the lines of any real release.
constexpr size_t kMaxDeltaIndexBytes = 8 * 1024 * 1024;

struct DeltaEntry {
    bool zstd = false;       // a frame against the installed file; else the file whole
    unsigned windowLog = 0;  // zstd only, 10..31
    std::string baseSha256;  // zstd only
    std::string resultSha256;
    unsigned long long resultSize = 0;
    std::wstring path;         // relative to the installation, "\"-separated
    std::wstring archiveName;  // "data\<path>.zst" or "data\<path>", as extracted
};

struct DeltaIndex {
    std::wstring from;
    std::wstring to;
    std::vector<DeltaEntry> entries;
};

// Parses the index's bytes. False for anything off the format: another header, a CR, an
// empty or unterminated line, a field out of range, a digest that is not 64 hex digits, a
// path that is not UTF-8, not strictly sorted (byte order), spelled twice in any case, or not
// a plain relative path (empty, "." or ".." components, a backslash, a leading "/", a drive,
// a device, characters a file name cannot hold).
bool ParseDeltaIndex(const std::string& text, DeltaIndex& index);

// True when the archive's files (as ExtractArchive names them) are exactly the index and one
// entry per line, each once: nothing missing, nothing more.
bool DeltaArchiveMatches(const DeltaIndex& index, const std::vector<std::wstring>& names);
