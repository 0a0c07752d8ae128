#include "support/PathUtils.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cwchar>

#include "support/ScopedHandle.h"

namespace {

constexpr size_t kBufferChars = MAX_PATH;  // terminator included

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

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
    if (length + 2 >= kBufferChars) return false;

    // The shell takes a list of names ended by an empty name: path, NUL, NUL.
    wchar_t buffer[kBufferChars] = {};
    if (wcscpy_s(buffer, kBufferChars, path) != 0) return false;
    buffer[length + 1] = L'\0';  // the secure copy may have filled the tail

    SHFILEOPSTRUCTW operation = {};
    operation.hwnd = nullptr;
    operation.wFunc = FO_DELETE;
    operation.pFrom = buffer;
    operation.pTo = nullptr;
    // No FOF_ALLOWUNDO: the tree is gone for good, not moved to the recycle bin.
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
    return SHFileOperationW(&operation) == 0;
}

void CollectFiles(const std::wstring& dir, std::vector<std::wstring>& list) {
    WIN32_FIND_DATAW data;
    ScopedFind find(FindFirstFileW((dir + L"\\*.*").c_str(), &data));
    if (!find) return;
    do {
        if (StrCmpW(data.cFileName, L".") == 0 || StrCmpW(data.cFileName, L"..") == 0) continue;
        std::wstring child = dir + L"\\" + data.cFileName;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            CollectFiles(child, list);
        } else {
            list.push_back(child);
        }
    } while (FindNextFileW(find.Get(), &data));
}
