#include "updater/TreeCopy.h"

#include <string>
#include <utility>

#include "support/FileDigest.h"
#include "support/Log.h"
#include "support/PathUtils.h"
#include "support/ScopedHandle.h"
#include "support/TextConvert.h"

namespace {

// The copy and attribute calls take paths of at most 259 characters.
bool Fits(const std::wstring& path) { return path.size() < MAX_PATH; }

// A failure that set no code still logs a non-zero one.
DWORD LastErrorOr(DWORD fallback) {
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

void LogFailure(const char* format, const std::wstring& path, DWORD error) {
    std::string narrowPath;
    WideToAnsi(path.c_str(), narrowPath);
    WriteLog("bx.log", "a", format, narrowPath.c_str(), static_cast<int>(error));
}

// A read-only file refuses to be overwritten or deleted.
// True when both files can be read and hold the same bytes (by digest).
bool SameContent(const std::wstring& a, const std::wstring& b) {
    char digestA[33], digestB[33];
    return Md5OfFile(digestA, a.c_str()) != 0 && Md5OfFile(digestB, b.c_str()) != 0 &&
           std::string(digestA) == digestB;
}

void ClearReadOnly(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

}  // namespace

TreeCopy::TreeCopy(std::wstring stagingRoot, std::wstring backupRoot, std::wstring installRoot,
                   const std::vector<std::wstring>& names)
    : stagingRoot_(std::move(stagingRoot)),
      backupRoot_(std::move(backupRoot)),
      installRoot_(std::move(installRoot)) {
    entries_.resize(names.size());
    for (size_t i = 0; i < names.size(); ++i) entries_[i].name = names[i];
}

bool TreeCopy::BackUp() {
    // Checked before anything is copied: a patch that cannot be installed whole is not begun.
    for (const Entry& entry : entries_) {
        if (!Fits(stagingRoot_ + entry.name) || !Fits(backupRoot_ + entry.name) ||
            !Fits(installRoot_ + entry.name))
            return false;
    }
    for (Entry& entry : entries_) {
        std::wstring installed = installRoot_ + entry.name;
        std::wstring backup = backupRoot_ + entry.name;
        WIN32_FIND_DATAW data;
        ScopedFind find(FindFirstFileW(installed.c_str(), &data));
        entry.installed = find.Valid() && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
        find.Close();
        if (!entry.installed) continue;  // added by the patch: nothing to keep
        entry.attributes = data.dwFileAttributes;
        CreateDirectoryPath(GetParentPath(backup).c_str());
        entry.backedUp = CopyFileW(installed.c_str(), backup.c_str(), FALSE) != FALSE;
        // Without this copy a failed install could not be undone.
        if (!entry.backedUp) {
            LogFailure("update patch backup (%s)  failed(%d)\n", installed,
                       LastErrorOr(ERROR_ACCESS_DENIED));
            return false;
        }
    }
    backedUp_ = true;
    return true;
}

bool TreeCopy::Install() {
    // Without the backups a rollback would delete the installed files as added ones.
    if (!backedUp_) return false;
    for (const Entry& entry : entries_) {
        if (!CopyIn(entry)) {
            RollBack();
            return false;
        }
    }
    return true;
}

bool TreeCopy::CopyIn(const Entry& entry) const {
    std::wstring installed = installRoot_ + entry.name;
    bool readOnly = entry.installed && (entry.attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly)
        SetFileAttributesW(installed.c_str(), entry.attributes & ~FILE_ATTRIBUTE_READONLY);
    CreateDirectoryPath(GetParentPath(installed).c_str());
    bool copied = CopyFileW((stagingRoot_ + entry.name).c_str(), installed.c_str(), FALSE) != FALSE;
    if (readOnly) SetFileAttributesW(installed.c_str(), entry.attributes);
    return copied;
}

void TreeCopy::RollBack() const {
    // Every name, not only those copied so far: the one that failed may be half written.
    for (const Entry& entry : entries_) {
        if (entry.backedUp) {
            Restore(entry);
        } else {
            RemoveAdded(entry);
        }
    }
}

void TreeCopy::Restore(const Entry& entry) const {
    std::wstring installed = installRoot_ + entry.name;
    // A file the copy never reached (or the one it could not open) is still the old one;
    // copying over it again would only fail where it is in use.
    if (SameContent(backupRoot_ + entry.name, installed)) {
        SetFileAttributesW(installed.c_str(), entry.attributes);
        return;
    }
    ClearReadOnly(installed);
    if (!CopyFileW((backupRoot_ + entry.name).c_str(), installed.c_str(), FALSE)) {
        LogFailure("update patch rollback (%s)  failed(%d)\n", installed,
                   LastErrorOr(ERROR_ACCESS_DENIED));
    }
    SetFileAttributesW(installed.c_str(), entry.attributes);
}

void TreeCopy::RemoveAdded(const Entry& entry) const {
    std::wstring installed = installRoot_ + entry.name;
    if (!FileExists(installed.c_str())) return;
    ClearReadOnly(installed);
    if (!DeleteFileW(installed.c_str())) {
        LogFailure("update patch rollback (%s)  failed(%d)\n", installed,
                   LastErrorOr(ERROR_ACCESS_DENIED));
    }
}
