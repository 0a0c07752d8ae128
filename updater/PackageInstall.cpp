#include "updater/PackageInstall.h"

#include <windows.h>

#include "archive/ExtractArchive.h"
#include "bridge/SelfModule.h"
#include "bridge/UpdateGate.h"
#include "installation/FileChange.h"
#include "installation/InstallChange.h"
#include "installation/Recovery.h"
#include "support/Log.h"
#include "support/PathUtils.h"
#include "support/Sha256.h"
#include "support/TextConvert.h"
#include "updater/DownloadLimits.h"
#include "updater/InstallDir.h"
#include "updater/PayloadDownload.h"
#include "updater/UpdaterState.h"

namespace {

constexpr const wchar_t* kPackageName = L"orvex_packet.7z";

void LogDownloadFailure(const std::wstring& url, DWORD error) {
    std::string narrowUrl;
    WideToAnsi(url.c_str(), narrowUrl);
    WriteLog("bx.log", "a", "Install DownloadFile (%s)  failed(%d)\n", narrowUrl.c_str(),
             static_cast<int>(error));
}

// Unpacks the package file into the installation's staging tree, installs it as one
// journaled change (recording toVersion when given) and deletes the package in any case. A
// package that does not unpack whole leaves the installation as it was.
bool Unpack(const std::wstring& package, const std::wstring& toVersion) {
    UpdaterState& state = TheUpdaterState();
    state.installDir = DefaultInstallDir();
    InstallLayout layout = LayoutForInstallDir(state.installDir);
    ChangeRequest request{L"install", toVersion, {}};
    bool unpacked = !layout.installDir.empty() && RemoveWorkTree(layout.stagingDir);
    if (unpacked) {
        CreateDirectoryPath(layout.stagingDir.c_str());
        unpacked = ExtractArchive(package.c_str(), layout.stagingDir.c_str(), &request.names);
    }
    DeleteFileW(package.c_str());
    if (!unpacked) {
        WriteLog("bx.log", "a", "Unzip failed\n");
        ClearWorkTrees(layout);
        return false;
    }
    bool installed = ApplyChange(layout, request);
    if (!InstallationHasJournal(layout)) ClearWorkTrees(layout);
    if (!installed) WriteLog("bx.log", "a", "Unzip failed\n");  // a file that would not go in
    return installed;
}

}  // namespace

std::wstring PackageFilePath() {
    std::wstring directory = GetModuleDirectory(GetSelfModule());
    if (directory.empty()) return std::wstring();
    return directory + L"\\" + kPackageName;
}

bool ProbePackage() {
    UpdaterState& state = TheUpdaterState();
    state.installDir = DefaultInstallDir();
    if (!state.installDir.empty() && FileExists((state.installDir + kPackageName).c_str()))
        return true;
    state.installDir.clear();
    return false;
}

bool InstallPendingPackage() {
    if (!TheUpdaterState().installDir.empty()) return false;
    if (IsUpdateRunning() != 0) return true;
    std::wstring package = PackageFilePath();
    if (package.empty() || !FileExists(package.c_str())) return false;
    return Unpack(package, std::wstring());
}

bool InstallVerifiedPendingPackage() {
    const UpdaterState& state = TheUpdaterState();
    if (!state.installDir.empty() || IsUpdateRunning() != 0) return false;
    std::wstring package = PackageFilePath();
    if (package.empty() || !FileExists(package.c_str())) return false;
    // Without a verified digest this run cannot judge it: it stays for a run that can.
    if (state.packageSha256.empty()) return false;
    if (!FileMatchesSha256(state.packageSha256.c_str(), package.c_str())) {
        DeleteFileW(package.c_str());
        WriteLog("bx.log", "a", "pending package refused (sha256 mismatch)\n");
        return false;
    }
    // The bytes are the manifest's package, so they are its version, as a download would be.
    return Unpack(package, state.latestVersion);
}

bool Install() {
    UpdaterState& state = TheUpdaterState();
    if (state.packageUrl.empty() || IsUpdateRunning() != 0) return false;
    std::wstring package = PackageFilePath();
    if (package.empty()) return false;
    DeleteFileW(package.c_str());  // nothing stale from an earlier run
    // The package comes down under another name and takes the package's name only once it
    // is whole (and matches its digest): a run that ends in between leaves no package for
    // the next run to unpack, only a partial download it may continue.
    PayloadRequest request{state.packageUrl,      L"?rand=",         package, state.packageSha256,
                           DownloadKind::Package, LogDownloadFailure};
    if (!DownloadPayload(request)) return false;
    return Unpack(package, state.latestVersion);
}
