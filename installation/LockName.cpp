#include "installation/LockName.h"

#include <cwchar>
#include <iterator>

#include "support/ScopedHandle.h"

namespace {

const wchar_t kIdentityPrefix[] = L"Local\\OrvexInstall-";
const wchar_t kPathPrefix[] = L"Local\\OrvexInstall:";

wchar_t* AppendHex(wchar_t* out, DWORD value) {
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    for (int shift = 28; shift >= 0; shift -= 4) *out++ = kDigits[(value >> shift) & 0xF];
    return out;
}

// The volume and file index name the folder however it was reached.
bool IdentityName(const wchar_t* directory, wchar_t (&name)[MAX_PATH]) {
    ScopedFile folder(CreateFileW(directory, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder) return false;
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(folder.Get(), &info)) return false;
    // Some file systems give no index: every folder there would share one name.
    if (info.nFileIndexHigh == 0 && info.nFileIndexLow == 0) return false;
    const size_t prefix = std::size(kIdentityPrefix) - 1;
    std::wmemcpy(name, kIdentityPrefix, prefix);
    wchar_t* out = AppendHex(name + prefix, info.dwVolumeSerialNumber);
    *out++ = L'-';
    out = AppendHex(out, info.nFileIndexHigh);
    out = AppendHex(out, info.nFileIndexLow);
    *out = L'\0';
    return true;
}

// Without an identity, the spelling made canonical: full, long (for a folder that exists),
// without a trailing separator, and upper-cased, since the file system ignores case.
bool CanonicalPathName(const wchar_t* directory, wchar_t (&name)[MAX_PATH]) {
    wchar_t full[MAX_PATH];
    DWORD fullLength = GetFullPathNameW(directory, MAX_PATH, full, nullptr);
    if (fullLength == 0 || fullLength >= MAX_PATH) return false;
    const size_t prefix = std::size(kPathPrefix) - 1;
    const DWORD room = static_cast<DWORD>(MAX_PATH - prefix);
    wchar_t* path = name + prefix;
    DWORD length = GetLongPathNameW(full, path, room);
    if (length >= room) return false;
    if (length == 0) {  // missing: the full path is as canonical as it gets
        if (fullLength >= room) return false;
        std::wmemcpy(path, full, fullLength + 1);
        length = fullLength;
    }
    while (length > 3 && path[length - 1] == L'\\') path[--length] = L'\0';
    CharUpperBuffW(path, length);
    for (DWORD i = 0; i < length; ++i) {
        if (path[i] == L'\\') path[i] = L'/';  // named objects refuse backslashes
    }
    std::wmemcpy(name, kPathPrefix, prefix);
    return true;
}

}  // namespace

bool InstallationLockName(const wchar_t* bridgeDirectory, wchar_t (&name)[MAX_PATH]) {
    name[0] = L'\0';
    if (bridgeDirectory == nullptr || bridgeDirectory[0] == L'\0') return false;
    if (IdentityName(bridgeDirectory, name) || CanonicalPathName(bridgeDirectory, name))
        return true;
    name[0] = L'\0';
    return false;
}
