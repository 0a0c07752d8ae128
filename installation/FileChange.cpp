#include "installation/FileChange.h"

#include "installation/ChangeSeam.h"
#include "support/PathUtils.h"

namespace {

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void ClearReadOnly(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

}  // namespace

bool CopyInstalledFile(const std::wstring& from, const std::wstring& to, bool restore) {
    if (!BeforeInstallChange(restore ? ChangeKind::Restore : ChangeKind::Copy, to.c_str()))
        return false;
    ClearReadOnly(to);
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
}

bool DeleteInstalledFile(const std::wstring& path) {
    if (!Exists(path)) return true;
    if (!BeforeInstallChange(ChangeKind::Delete, path.c_str())) return false;
    ClearReadOnly(path);
    return DeleteFileW(path.c_str()) != FALSE || !Exists(path);
}

bool MoveInstalledFile(const std::wstring& from, const std::wstring& to) {
    if (!BeforeInstallChange(ChangeKind::Move, to.c_str())) return false;
    ClearReadOnly(to);
    return MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool SetInstalledAttributes(const std::wstring& path, DWORD attributes) {
    if (!BeforeInstallChange(ChangeKind::Attributes, path.c_str())) return false;
    return SetFileAttributesW(path.c_str(), attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL) !=
           FALSE;
}

bool CreateInstalledDirectory(const std::wstring& path) {
    if (Exists(path)) return true;
    if (!BeforeInstallChange(ChangeKind::CreateDir, path.c_str())) return false;
    return CreateDirectoryW(path.c_str(), nullptr) != FALSE || Exists(path);
}

bool RemoveInstalledDirectory(const std::wstring& path) {
    if (!Exists(path)) return true;
    if (!BeforeInstallChange(ChangeKind::RemoveDir, path.c_str())) return false;
    return RemoveDirectoryW(path.c_str()) != FALSE;
}

bool RemoveWorkTree(const std::wstring& path) {
    if (!Exists(path)) return true;
    if (!BeforeInstallChange(ChangeKind::Delete, path.c_str())) return false;
    DeleteDirectoryTree(path.c_str());
    return !Exists(path);
}
