// The change seam of the test build of the bridge (OrvexBridgeSeams), set from the process's
// environment:
//   ORVEX_SEAM_LOG=<file>          each change appends "<n> <kind> <path>" to the file
//   ORVEX_SEAM_KILL_AT=<n>         the process terminates (exit code 86) before change n
//   ORVEX_SEAM_FAIL_RESTORE=<text> a rollback's restore onto a path holding text fails
#include <windows.h>

#include <atomic>
#include <cwchar>
#include <string>

#include "installation/ChangeSeam.h"
#include "support/ScopedHandle.h"

namespace {

std::atomic<long> g_changes{0};

std::wstring Env(const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

// Indexed by ChangeKind, in its order.
const char* const kKindNames[] = {"copy",  "restore", "move",    "delete", "attributes",
                                  "mkdir", "rmdir",   "journal", "version"};

const char* KindName(ChangeKind kind) {
    size_t index = static_cast<size_t>(kind);
    return index < sizeof(kKindNames) / sizeof(kKindNames[0]) ? kKindNames[index] : "?";
}

void Record(const std::wstring& logFile, long n, ChangeKind kind, const wchar_t* path) {
    char narrowPath[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, path, -1, narrowPath, sizeof(narrowPath) - 1, nullptr, nullptr);
    char line[1200];
    int length = std::snprintf(line, sizeof(line), "%ld %s %s\n", n, KindName(kind), narrowPath);
    ScopedFile file(CreateFileW(logFile.c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file && length > 0)
        WriteFile(file.Get(), line, static_cast<DWORD>(length), &written, nullptr);
}

}  // namespace

bool BeforeInstallChange(ChangeKind kind, const wchar_t* path) {
    long n = ++g_changes;
    std::wstring logFile = Env(L"ORVEX_SEAM_LOG");
    if (!logFile.empty()) Record(logFile, n, kind, path);
    std::wstring killAt = Env(L"ORVEX_SEAM_KILL_AT");
    if (!killAt.empty() && std::wcstol(killAt.c_str(), nullptr, 10) == n)
        TerminateProcess(GetCurrentProcess(), 86);
    std::wstring failText = Env(L"ORVEX_SEAM_FAIL_RESTORE");
    if (kind == ChangeKind::Restore && !failText.empty() && std::wcsstr(path, failText.c_str())) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}
