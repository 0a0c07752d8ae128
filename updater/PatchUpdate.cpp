#include "updater/PatchUpdate.h"

#include <windows.h>

#include "archive/ExtractArchive.h"
#include "bridge/UpdateGate.h"
#include "installation/FileChange.h"
#include "installation/InstallChange.h"
#include "installation/Recovery.h"
#include "support/Log.h"
#include "support/PathUtils.h"
#include "support/TextConvert.h"
#include "updater/DownloadLimits.h"
#include "updater/InstallDir.h"
#include "updater/PayloadDownload.h"

namespace {

constexpr const wchar_t* kPatchFileName = L"\\patch.7z";

void LogDownloadFailure(const std::wstring& /*requestUrl*/, DWORD error) {
    WriteLog("bx.log", "a", "update patch DownloadFile failed(%d)\n", static_cast<int>(error));
}

// Unpacks the archive into the installation's private staging tree and installs exactly the
// files it held, journaled (see InstallChange.h). A partial unpack changes nothing.
bool ApplyPatchUnguarded(const std::wstring& archivePath, const InstallLayout& layout,
                         const std::wstring& toVersion) {
    if (layout.installDir.empty()) return false;
    // A leftover of an interrupted run must not be installed with this patch.
    if (!RemoveWorkTree(layout.stagingDir)) return false;
    CreateDirectoryPath(layout.stagingDir.c_str());
    ChangeRequest request{L"patch", toVersion, {}};
    bool installed =
        ExtractArchive(archivePath.c_str(), layout.stagingDir.c_str(), &request.names) &&
        ApplyChange(layout, request);
    if (!InstallationHasJournal(layout)) ClearWorkTrees(layout);
    return installed;
}

bool UpdateUnguarded(const std::wstring& url, const std::string& sha256,
                     const std::wstring& toVersion) {
    if (url.empty() || IsUpdateRunning() != 0) return false;
    // Never the drive root or the game's folder: the default installation when none is set.
    std::wstring installDir = InstallDirOrDefault();
    if (installDir.empty()) return false;
    std::wstring patchDir = PatchDirectory(installDir);
    std::wstring patchFile = patchDir + kPatchFileName;
    DeleteFileW(patchFile.c_str());
    CreateDirectoryPath(patchDir.c_str());  // through "bin", so that is created too
    if (IsUpdateRunning() != 0) return false;
    PayloadRequest request{url,    L"?tick=",           patchFile,
                           sha256, DownloadKind::Patch, LogDownloadFailure};
    if (!DownloadPayload(request)) return false;
    // Checked again right before any installed file changes.
    bool applied = IsUpdateRunning() == 0 &&
                   ApplyPatchUnguarded(patchFile, LayoutForInstallDir(installDir), toVersion);
    DeleteFileW(patchFile.c_str());
    return applied;
}

}  // namespace

std::wstring PatchDirectory(std::wstring installDir) {
    if (installDir.back() != L'\\' && installDir.back() != L'/') installDir += L'\\';
    return installDir + L"..\\patch";
}

bool update(std::wstring url, std::string sha256, std::wstring toVersion) {
    try {
        return UpdateUnguarded(url, sha256, toVersion);
    } catch (...) {
        return false;  // the update run goes on; the patch is tried again next run
    }
}

bool ApplyPatch(const std::wstring& archivePath, const std::wstring& installDir) {
    try {
        return ApplyPatchUnguarded(
            archivePath,
            LayoutForInstallDir(installDir.empty() ? InstallDirOrDefault() : installDir),
            std::wstring());
    } catch (...) {
        return false;
    }
}
