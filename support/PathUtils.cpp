#include "support/PathUtils.h"

#include <shlwapi.h>

#include <cwchar>
#include <utility>

#include "support/ScopedHandle.h"

namespace {

constexpr size_t kBufferChars = MAX_PATH;  // terminator included

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDotEntry(const wchar_t* name) {
    return StrCmpW(name, L".") == 0 || StrCmpW(name, L"..") == 0;
}

bool DeleteEntry(const std::wstring& path, DWORD attributes);

// Deletes everything below dir; true when all of it went. The names are read before any is
// deleted, so the listing never runs over entries removed under it.
bool DeleteChildren(const std::wstring& dir) {
    std::wstring prefix = dir;
    if (prefix.empty() || !IsSeparator(prefix.back())) prefix += L'\\';
    std::vector<std::pair<std::wstring, DWORD>> children;
    {
        WIN32_FIND_DATAW data;
        ScopedFind find(FindFirstFileW((prefix + L"*").c_str(), &data));
        if (!find) return false;
        do {
            if (!IsDotEntry(data.cFileName)) {
                children.emplace_back(prefix + data.cFileName, data.dwFileAttributes);
            }
        } while (FindNextFileW(find.Get(), &data));
    }  // closed before the directory itself is removed
    bool whole = true;
    for (const auto& child : children) {
        whole = DeleteEntry(child.first, child.second) && whole;
    }
    return whole;
}

// Deletes one file, or one directory with its contents; a failure leaves that entry and
// goes on with the rest. A reparse point (a junction or link) is removed as a link only: its
// target lies outside the tree, and setting attributes through it would change the target.
bool DeleteEntry(const std::wstring& path, DWORD attributes) {
    bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    bool readOnly = !link && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly) SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    bool removed;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        bool emptied = link || DeleteChildren(path);
        removed = RemoveDirectoryW(path.c_str()) != 0 && emptied;
    } else {
        removed = DeleteFileW(path.c_str()) != 0;
    }
    // What stays keeps the attributes it had.
    if (readOnly && !removed) SetFileAttributesW(path.c_str(), attributes);
    return removed;
}

}  // namespace

std::wstring GetModuleDirectory(HMODULE module) {
    wchar_t path[kBufferChars] = {};
    DWORD length = GetModuleFileNameW(module, path, static_cast<DWORD>(kBufferChars));
    // A result that fills the buffer was cut; its parent would be the wrong directory.
    if (length == 0 || length >= kBufferChars) return std::wstring();
    return GetParentPath(path);
}

std::wstring GetParentPath(const std::wstring& path) {
    size_t cut = path.find_last_of(L"\\/");
    if (cut == std::wstring::npos) return path;
    return path.substr(0, cut);
}

bool FileExists(const wchar_t* path) {
    if (path == nullptr) return false;
    WIN32_FIND_DATAW data;
    ScopedFind find(FindFirstFileW(path, &data));
    if (!find) return false;
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void CreateDirectoryPath(const wchar_t* path) {
    if (path == nullptr) return;
    size_t length = wcsnlen(path, kBufferChars);
    if (length >= kBufferChars) return;
    bool appendSeparator = length == 0 || !IsSeparator(path[length - 1]);
    if (appendSeparator && length + 1 >= kBufferChars) return;

    wchar_t buffer[kBufferChars] = {};
    if (wcscpy_s(buffer, kBufferChars, path) != 0) return;
    // The trailing separator makes the whole path the last prefix that gets created.
    if (appendSeparator && wcscat_s(buffer, kBufferChars, L"\\") != 0) return;

    for (size_t i = 0; buffer[i] != L'\0'; ++i) {
        if (!IsSeparator(buffer[i])) continue;
        wchar_t separator = buffer[i];
        buffer[i] = L'\0';
        CreateDirectoryW(buffer, nullptr);  // existing, drive or empty prefixes just fail
        buffer[i] = separator;
    }
}

bool DeleteDirectoryTree(const wchar_t* path) {
    if (path == nullptr) return false;
    size_t length = wcsnlen(path, kBufferChars);
    if (length >= kBufferChars) return false;
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return DeleteEntry(std::wstring(path, length), attributes);
}

void CollectFiles(const std::wstring& dir, std::vector<std::wstring>& list) {
    WIN32_FIND_DATAW data;
    ScopedFind find(FindFirstFileW((dir + L"\\*.*").c_str(), &data));
    if (!find) return;
    do {
        if (IsDotEntry(data.cFileName)) continue;
        std::wstring child = dir + L"\\" + data.cFileName;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            CollectFiles(child, list);
        } else {
            list.push_back(child);
        }
    } while (FindNextFileW(find.Get(), &data));
}
