#include "updater/DeltaIndex.h"

#include <windows.h>

#include <algorithm>
#include <set>

#include "support/RelativePath.h"
#include "support/Sha256.h"
#include "support/TextConvert.h"

namespace {

// Version texts are short; the manifest's are held to the same bound.
constexpr size_t kMaxVersionChars = 64;

bool IsDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Decimal without a sign or leading zeros, up to 2^64 - 1.
bool ParseSize(const std::string& text, unsigned long long& value) {
    if (!IsDigits(text) || (text.size() > 1 && text[0] == '0') || text.size() > 20) return false;
    value = 0;
    for (char c : text) {
        unsigned digit = static_cast<unsigned>(c - '0');
        if (value > (~0ull - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}

bool ParseVersion(const std::string& line, const char* key, std::wstring& version) {
    const std::string prefix = std::string(key) + " ";
    if (line.compare(0, prefix.size(), prefix) != 0) return false;
    std::string text = line.substr(prefix.size());
    return !text.empty() && text.size() <= kMaxVersionChars && Utf8ToWide(text, version);
}

// A plain relative path of "/"-separated names: what the whole-file patch holds, nothing
// the file system would read another way.
bool ParsePath(const std::string& text, std::wstring& path) {
    if (text.empty() || text.find('\\') != std::string::npos || !Utf8ToWide(text, path))
        return false;
    size_t start = 0;
    for (;;) {
        size_t end = path.find(L'/', start);
        std::wstring part = path.substr(start, end == std::wstring::npos ? end : end - start);
        if (part.empty() || part == L"." || part == L"..") return false;
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return IsContainedRelativePath(path);
}

// "<method> <window_log> <base_sha256> <result_sha256> <result_size> <path>"
bool ParseEntry(const std::string& line, DeltaEntry& entry, std::string& rawPath) {
    std::string fields[5];
    size_t at = 0;
    for (std::string& field : fields) {
        size_t space = line.find(' ', at);
        if (space == std::string::npos) return false;
        field = line.substr(at, space - at);
        at = space + 1;
    }
    const std::string& method = fields[0];
    entry.zstd = method == "zstd";
    if (entry.zstd) {
        unsigned long long log = 0;
        if (!ParseSize(fields[1], log) || log < 10 || log > 31 || !IsSha256Text(fields[2].c_str()))
            return false;
        entry.windowLog = static_cast<unsigned>(log);
        entry.baseSha256 = fields[2];
    } else if (method != "whole" || fields[1] != "-" || fields[2] != "-") {
        return false;
    }
    rawPath = line.substr(at);
    if (!IsSha256Text(fields[3].c_str()) || !ParseSize(fields[4], entry.resultSize) ||
        !ParsePath(rawPath, entry.path))
        return false;
    entry.resultSha256 = fields[3];
    entry.archiveName = L"data\\" + entry.path + (entry.zstd ? L".zst" : L"");
    return true;
}

std::wstring Folded(std::wstring text) {
    if (!text.empty()) CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

}  // namespace

bool ParseDeltaIndex(const std::string& text, DeltaIndex& index) {
    index = DeltaIndex();
    if (text.size() > kMaxDeltaIndexBytes || text.empty() || text.back() != '\n' ||
        text.find('\r') != std::string::npos)
        return false;
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    if (lines.size() < 3 || lines[0] != "orvex-delta 1" ||
        !ParseVersion(lines[1], "from", index.from) || !ParseVersion(lines[2], "to", index.to))
        return false;
    std::set<std::wstring> folded;  // the installation's file system ignores case
    std::string previous;
    for (size_t i = 3; i < lines.size(); ++i) {
        DeltaEntry entry;
        std::string path;
        if (!ParseEntry(lines[i], entry, path) || !folded.insert(Folded(entry.path)).second)
            return false;
        // Strictly sorted by the path's bytes, as the publisher writes it.
        if (i > 3 && !(previous < path)) return false;
        previous = path;
        index.entries.push_back(entry);
    }
    return true;
}

bool DeltaArchiveMatches(const DeltaIndex& index, const std::vector<std::wstring>& names) {
    std::vector<std::wstring> expected{kDeltaIndexName};
    for (const DeltaEntry& entry : index.entries) expected.push_back(entry.archiveName);
    std::vector<std::wstring> found = names;
    std::sort(expected.begin(), expected.end());
    std::sort(found.begin(), found.end());
    return found == expected;
}
