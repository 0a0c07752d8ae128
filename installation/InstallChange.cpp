#include "installation/InstallChange.h"

#include <windows.h>

#include <cstring>
#include <set>
#include <vector>

#include "installation/FileChange.h"
#include "installation/VersionRecord.h"
#include "support/ScopedHandle.h"
#include "support/LastError.h"
#include "support/Log.h"
#include "support/PathUtils.h"
#include "support/RelativePath.h"
#include "support/TextConvert.h"

namespace {

bool Fits(const std::wstring& path) { return path.size() < MAX_PATH; }

void LogPathFailure(const char* format, const std::wstring& path, DWORD error) {
    std::string narrow;
    WideToAnsi(path.c_str(), narrow);
    WriteLog("bx.log", "a", format, narrow.c_str(), static_cast<int>(error));
}

// The installed path of a relative name; "" names the installation directory itself.
std::wstring Installed(const InstallLayout& layout, const std::wstring& name) {
    if (name.empty()) return layout.installDir.substr(0, layout.installDir.size() - 1);
    return layout.installDir + name;
}

ScopedFile OpenToCompare(const std::wstring& path) {
    return ScopedFile(CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

// True when both files can be read and hold the same bytes; stops at the first difference.
bool SameBytes(const std::wstring& a, const std::wstring& b) {
    ScopedFile fileA = OpenToCompare(a);
    ScopedFile fileB = OpenToCompare(b);
    LARGE_INTEGER sizeA = {}, sizeB = {};
    if (!fileA || !fileB || !GetFileSizeEx(fileA.Get(), &sizeA) ||
        !GetFileSizeEx(fileB.Get(), &sizeB) || sizeA.QuadPart != sizeB.QuadPart)
        return false;
    constexpr DWORD kChunk = 64 * 1024;
    std::vector<char> bufferA(kChunk), bufferB(kChunk);
    for (LONGLONG left = sizeA.QuadPart; left > 0;) {
        DWORD want = left < kChunk ? static_cast<DWORD>(left) : kChunk;
        DWORD gotA = 0, gotB = 0;
        if (!ReadFile(fileA.Get(), bufferA.data(), want, &gotA, nullptr) ||
            !ReadFile(fileB.Get(), bufferB.data(), want, &gotB, nullptr) || gotA != want ||
            gotB != want || std::memcmp(bufferA.data(), bufferB.data(), want) != 0)
            return false;
        left -= want;
    }
    return true;
}

// Directories the change must create, shallowest first, the installation directory ("")
// included when it is missing.
std::vector<std::wstring> MissingDirectories(const InstallLayout& layout,
                                             const std::vector<std::wstring>& names) {
    std::vector<std::wstring> missing;
    std::set<std::wstring> seen;
    auto consider = [&](const std::wstring& relative) {
        if (!seen.insert(relative).second) return;
        DWORD attributes = GetFileAttributesW(Installed(layout, relative).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) missing.push_back(relative);
    };
    consider(L"");
    for (const std::wstring& name : names) {
        for (size_t cut = name.find(L'\\'); cut != std::wstring::npos;
             cut = name.find(L'\\', cut + 1))
            consider(name.substr(0, cut));
    }
    return missing;
}

// Step 1: the journal's entries, each installed file backed up. False (logged) when a file
// cannot be backed up; nothing in the installation has changed then.
bool BackUp(const InstallLayout& layout, const std::vector<std::wstring>& names, Journal& journal) {
    std::set<std::wstring> seen;  // one entry per file, however an archive spells it twice
    for (const std::wstring& name : names) {
        std::wstring key = name;
        CharUpperBuffW(&key[0], static_cast<DWORD>(key.size()));
        if (!seen.insert(key).second) continue;
        JournalEntry entry{name, false, 0};
        std::wstring installed = layout.installDir + name;
        DWORD attributes = GetFileAttributesW(installed.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
            std::wstring backup = layout.backupDir + L"\\" + name;
            CreateDirectoryPath(GetParentPath(backup).c_str());
            if (!CopyInstalledFile(installed, backup, false)) {
                LogPathFailure("update patch backup (%s)  failed(%d)\n", installed,
                               LastErrorOr(ERROR_ACCESS_DENIED));
                return false;
            }
            entry.replaced = true;
            entry.attributes = attributes;
        }
        journal.entries.push_back(entry);
    }
    return true;
}

// Step 3 for one file: a read-only installed file is replaced too and stays read-only. A
// file that already holds the new bytes is left alone, so an unchanged module that another
// game has loaded does not stop the change.
bool CopyIn(const InstallLayout& layout, const JournalEntry& entry) {
    std::wstring installed = layout.installDir + entry.name;
    std::wstring staged = layout.stagingDir + L"\\" + entry.name;
    if (entry.replaced && SameBytes(staged, installed)) return true;
    bool copied = CopyInstalledFile(staged, installed, false);
    if (copied && entry.replaced && (entry.attributes & FILE_ATTRIBUTE_READONLY) != 0)
        copied = SetInstalledAttributes(installed, entry.attributes);
    return copied;
}

bool PathsFit(const InstallLayout& layout, const std::vector<std::wstring>& names) {
    for (const std::wstring& name : names) {
        if (!IsContainedRelativePath(name) || !Fits(layout.installDir + name) ||
            !Fits(layout.stagingDir + L"\\" + name) || !Fits(layout.backupDir + L"\\" + name))
            return false;
    }
    return true;
}

bool Restore(const InstallLayout& layout, const JournalEntry& entry) {
    std::wstring installed = layout.installDir + entry.name;
    if (!entry.replaced) return DeleteInstalledFile(installed);
    std::wstring backup = layout.backupDir + L"\\" + entry.name;
    // A file the change never reached is still the old one; copying over it again would
    // only fail where it is in use.
    bool same = SameBytes(backup, installed);
    if (!same && !CopyInstalledFile(backup, installed, true)) return false;
    DWORD now = GetFileAttributesW(installed.c_str());
    return now == entry.attributes || SetInstalledAttributes(installed, entry.attributes);
}

}  // namespace

void ClearWorkTrees(const InstallLayout& layout) {
    // Also what a process that died mid-write left there (a journal never moved into place).
    if (!JournalExists(layout.journalFile)) RemoveWorkTree(layout.workDir);
}

bool ApplyChange(const InstallLayout& layout, const ChangeRequest& request) {
    if (layout.installDir.empty() || !PathsFit(layout, request.names)) return false;
    // An earlier change that could not be undone keeps its journal; nothing goes over it.
    if (JournalExists(layout.journalFile)) return false;
    Journal journal;
    journal.operation = request.operation;
    journal.fromVersion = ReadVersionRecord(layout.versionFile);
    journal.toVersion = request.toVersion;
    journal.createdDirs = MissingDirectories(layout, request.names);
    RemoveWorkTree(layout.backupDir);
    CreateDirectoryPath(layout.backupDir.c_str());
    if (!BackUp(layout, request.names, journal)) {
        RemoveWorkTree(layout.backupDir);
        return false;
    }
    if (!WriteJournal(layout.journalFile, journal)) {
        LogPathFailure("installation journal (%s)  failed(%d)\n", layout.journalFile,
                       LastErrorOr(ERROR_WRITE_FAULT));
        RemoveWorkTree(layout.backupDir);
        return false;
    }

    bool done = true;
    for (const std::wstring& dir : journal.createdDirs)
        done = done && CreateInstalledDirectory(Installed(layout, dir));
    for (const JournalEntry& entry : journal.entries) done = done && CopyIn(layout, entry);
    if (done && !request.toVersion.empty())
        done = WriteVersionRecord(layout.versionFile, request.toVersion);
    if (!done) {
        RollBackChange(layout, journal);
        return false;
    }
    // The commit: from here on the new installation is the one the next run finds.
    if (!DeleteInstalledFile(layout.journalFile)) return true;  // the next run completes it
    ClearWorkTrees(layout);
    return true;
}

bool RollBackChange(const InstallLayout& layout, const Journal& journal) {
    bool whole = true;
    for (auto entry = journal.entries.rbegin(); entry != journal.entries.rend(); ++entry) {
        if (!Restore(layout, *entry)) {
            LogPathFailure("installation rollback (%s)  failed(%d)\n",
                           layout.installDir + entry->name, LastErrorOr(ERROR_ACCESS_DENIED));
            whole = false;
        }
    }
    if (!whole) return false;  // the backups and the journal stay for the next run
    for (auto dir = journal.createdDirs.rbegin(); dir != journal.createdDirs.rend(); ++dir)
        RemoveInstalledDirectory(Installed(layout, *dir));  // a folder left is no file
    if (ReadVersionRecord(layout.versionFile) != journal.fromVersion &&
        !WriteVersionRecord(layout.versionFile, journal.fromVersion)) {
        LogPathFailure("installation rollback (%s)  failed(%d)\n", layout.versionFile,
                       LastErrorOr(ERROR_WRITE_FAULT));
        return false;
    }
    if (!DeleteInstalledFile(layout.journalFile)) return false;
    ClearWorkTrees(layout);
    return true;
}
