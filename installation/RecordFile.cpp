#include "installation/RecordFile.h"

#include <windows.h>

#include <vector>

#include "support/ScopedHandle.h"

namespace {

// Readers (other games reading their version, a scanner) open the record for a moment
// without delete sharing, which a replace needs: a bounded number of short retries.
constexpr int kReplaceTries = 50;
constexpr DWORD kReplaceRetryMs = 20;

bool Replace(const std::wstring& next, const std::wstring& target) {
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExW(next.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        DWORD error = GetLastError();
        bool transient = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                         error == ERROR_LOCK_VIOLATION;
        if (!transient || attempt == kReplaceTries) return false;
        Sleep(kReplaceRetryMs);
    }
}

bool Flush(const std::wstring& path) {
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && FlushFileBuffers(file.Get()) != FALSE;
}

}  // namespace

std::wstring ReadRecordValue(const std::wstring& file, const wchar_t* key) {
    if (file.empty()) return std::wstring();
    std::vector<wchar_t> value(kRecordValueChars, L'\0');
    GetPrivateProfileStringW(L"conf", key, L"", value.data(), kRecordValueChars, file.c_str());
    return std::wstring(value.data());
}

bool WriteRecordValue(const std::wstring& file, const wchar_t* key, const std::wstring& value,
                      bool (*beforeReplace)(const wchar_t* file)) {
    if (file.empty()) return false;
    std::wstring next = file + L".new";
    SetFileAttributesW(next.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(next.c_str());
    bool existed = GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (existed) {
        if (!CopyFileW(file.c_str(), next.c_str(), FALSE)) return false;
        SetFileAttributesW(next.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    bool written = WritePrivateProfileStringW(L"conf", key, value.empty() ? nullptr : value.c_str(),
                                              next.c_str()) != FALSE;
    // Removing a key from a file that never existed writes nothing: nothing to record.
    if (!written && !existed && value.empty()) return true;
    if (!written || !Flush(next) || (beforeReplace != nullptr && !beforeReplace(file.c_str()))) {
        DeleteFileW(next.c_str());
        return false;
    }
    DWORD attributes = GetFileAttributesW(file.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        SetFileAttributesW(file.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!Replace(next, file)) {
        DWORD error = GetLastError();
        DeleteFileW(next.c_str());
        SetLastError(error);
        return false;
    }
    return true;
}
