#include "updater/PatchUpdate.h"

#include <windows.h>

#include <vector>

#include "archive/ExtractArchive.h"
#include "bridge/UpdateGate.h"
#include "http/FileDownload.h"
#include "support/Log.h"
#include "support/PathUtils.h"
#include "support/RelativePath.h"
#include "support/TextConvert.h"
#include "updater/DownloadLimits.h"
#include "updater/InstallDir.h"
#include "updater/PayloadDigest.h"
#include "updater/TempAreaLock.h"
#include "updater/TreeCopy.h"

namespace {

constexpr const wchar_t* kPatchFileName = L"\\patch.7z";
constexpr const wchar_t* kStagingName = L"ZTUpdateAplldr";
constexpr const wchar_t* kBackupName = L"ZTUpdateAplldr.old";

// Beside the installation: with the usual "<bridge>\bin\" it is "<bridge>\patch".
std::wstring PatchDirectory(std::wstring installDir) {
    if (installDir.back() != L'\\' && installDir.back() != L'/') installDir += L'\\';
    return installDir + L"..\\patch";
}

// Downloads url into file. On failure logs the reason and deletes the partial file.
bool DownloadPatch(const std::wstring& url, const std::wstring& file) {
    DWORD error = ERROR_SUCCESS;
    DownloadResult result = DownloadToFile(url, file, DownloadLimits(DownloadKind::Patch), error);
    if (result == DownloadResult::Failed)
        WriteLog("bx.log", "a", "update patch DownloadFile failed(%d)\n", static_cast<int>(error));
    return result == DownloadResult::Complete;
}

// The staging and backup trees in the temporary directory. False when that directory is
// unknown, or so long that the shell could not delete the trees.
bool TemporaryTrees(std::wstring& staging, std::wstring& backup) {
    wchar_t temp[MAX_PATH] = {};
    DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) return false;
    staging = std::wstring(temp) + kStagingName;
    backup = std::wstring(temp) + kBackupName;
    return backup.size() + 2 < MAX_PATH;
}

// True when nothing is left at the path afterwards.
bool RemoveTree(const std::wstring& path) {
    DeleteDirectoryTree(path.c_str());
    return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

// The staged files relative to the staging tree, each beginning with "\". False when a
// name would leave the directory it is joined onto.
bool StagedNames(const std::wstring& staging, std::vector<std::wstring>& names) {
    std::vector<std::wstring> files;
    CollectFiles(staging, files);
    for (const std::wstring& file : files) {
        std::wstring name = file.substr(staging.size());
        if (name.size() < 2 || name[0] != L'\\' || !IsContainedRelativePath(name.substr(1)))
            return false;
        names.push_back(name);
    }
    return true;
}

bool InstallStaged(const std::wstring& staging, const std::wstring& backup,
                   const std::wstring& installDir) {
    std::vector<std::wstring> names;
    if (!StagedNames(staging, names)) return false;
    TreeCopy copy(staging, backup, installDir, names);
    return copy.BackUp() && copy.Install();
}

bool ApplyPatchUnguarded(const std::wstring& archivePath, const std::wstring& installDir) {
    if (installDir.empty()) return false;
    std::wstring staging;
    std::wstring backup;
    if (!TemporaryTrees(staging, backup)) return false;
    // The trees' names are shared by every game of this user; another may be patching.
    TempAreaLock tempArea;
    if (!tempArea.Acquire(kTempAreaPatchWaitMs)) {
        WriteLog("bx.log", "a", "update patch temporary trees busy(%d)\n",
                 static_cast<int>(ERROR_TIMEOUT));
        return false;
    }
    // A leftover of an interrupted run must not be installed with this patch.
    if (!RemoveTree(staging) || !RemoveTree(backup)) return false;
    CreateDirectoryPath(staging.c_str());
    CreateDirectoryPath(backup.c_str());
    // A partial unpack stays until the next patch clears it; the installation is untouched.
    if (!ExtractArchive(archivePath.c_str(), staging.c_str())) return false;
    bool installed = InstallStaged(staging, backup, installDir);
    RemoveTree(staging);
    RemoveTree(backup);
    return installed;
}

bool UpdateUnguarded(const std::wstring& url, const std::string& sha256) {
    if (url.empty() || IsUpdateRunning() != 0) return false;
    std::wstring requestUrl = url + L"?tick=" + DecimalText(static_cast<int>(GetTickCount()));
    // Never the drive root or the game's folder: the default installation when none is set.
    std::wstring installDir = InstallDirOrDefault();
    if (installDir.empty()) return false;
    std::wstring patchDir = PatchDirectory(installDir);
    std::wstring patchFile = patchDir + kPatchFileName;
    DeleteFileW(patchFile.c_str());
    CreateDirectoryPath(patchDir.c_str());  // through "bin", so that is created too
    if (IsUpdateRunning() != 0) return false;
    if (!DownloadPatch(requestUrl, patchFile)) return false;
    if (!PayloadMatchesDigest(sha256, patchFile, url)) return false;
    // Checked again right before any installed file changes.
    bool applied = IsUpdateRunning() == 0 && ApplyPatchUnguarded(patchFile, installDir);
    DeleteFileW(patchFile.c_str());
    return applied;
}

}  // namespace

bool update(std::wstring url, std::string sha256) {
    try {
        return UpdateUnguarded(url, sha256);
    } catch (...) {
        return false;  // the update run goes on; the patch is tried again next run
    }
}

bool ApplyPatch(const std::wstring& archivePath, const std::wstring& installDir) {
    try {
        return ApplyPatchUnguarded(archivePath,
                                   installDir.empty() ? InstallDirOrDefault() : installDir);
    } catch (...) {
        return false;
    }
}
