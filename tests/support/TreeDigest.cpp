#include "support/TreeDigest.h"

#include <windows.h>

#include <cstdio>
#include <map>
#include <vector>

namespace {

constexpr std::uint64_t kFnvOffset = 14695981039346656037ull;
constexpr std::uint64_t kFnvPrime = 1099511628211ull;

struct Entry {
    bool directory = false;
    bool readOnly = false;
    std::uint64_t size = 0;
};

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

// Relative name (directories end in "\") to entry, below dir.
void Collect(const std::wstring& dir, const std::wstring& prefix,
             std::map<std::wstring, Entry>& entries) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (prefix.empty() && name == L"core_calls.log") continue;
        Entry entry;
        entry.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.readOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
        entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        if (entry.directory) {
            entries[prefix + name + L"\\"] = entry;
            Collect(dir + L"\\" + name, prefix + name + L"\\", entries);
        } else {
            entries[prefix + name] = entry;
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

void Mix(std::uint64_t& hash, const void* bytes, size_t count) {
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < count; ++i) hash = (hash ^ p[i]) * kFnvPrime;
}

void MixFile(std::uint64_t& hash, const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Mix(hash, "unreadable", 10);
        return;
    }
    std::vector<char> buffer(65536);
    DWORD got = 0;
    while (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) &&
           got > 0)
        Mix(hash, buffer.data(), got);
    CloseHandle(file);
}

}  // namespace

std::uint64_t TreeDigest(const std::wstring& dir) {
    std::map<std::wstring, Entry> entries;
    Collect(dir, L"", entries);
    std::uint64_t hash = kFnvOffset;
    for (const auto& [name, entry] : entries) {
        Mix(hash, name.data(), name.size() * sizeof(wchar_t));
        const unsigned char flags = (entry.directory ? 1 : 0) | (entry.readOnly ? 2 : 0);
        Mix(hash, &flags, 1);
        if (entry.directory) continue;
        Mix(hash, &entry.size, sizeof(entry.size));
        MixFile(hash, dir + L"\\" + name);
    }
    return hash;
}

std::string TreeDigestText(const std::wstring& dir) {
    char text[17];
    std::snprintf(text, sizeof(text), "%016llx", static_cast<unsigned long long>(TreeDigest(dir)));
    return text;
}

std::string TreeListing(const std::wstring& dir) {
    std::map<std::wstring, Entry> entries;
    Collect(dir, L"", entries);
    std::string text;
    for (const auto& [name, entry] : entries) {
        text += Narrow(name);
        if (!entry.directory) {
            std::uint64_t hash = kFnvOffset;
            MixFile(hash, dir + L"\\" + name);
            char detail[64];
            std::snprintf(detail, sizeof(detail), " %llu %s %016llx",
                          static_cast<unsigned long long>(entry.size), entry.readOnly ? "ro" : "rw",
                          static_cast<unsigned long long>(hash));
            text += detail;
        }
        text += "\n";
    }
    return text;
}
