#include "updater/LocalVersion.h"

#include <windows.h>

#include "support/Log.h"
#include "updater/InstallDir.h"
#include "updater/UpdaterState.h"

std::wstring ReadInstalledVersion() { return ReadVersionRecord(TheInstallLayout().versionFile); }

bool GetVersionInfo() {
    UpdaterState& state = TheUpdaterState();
    state.currentVersion = ReadInstalledVersion();
    if (state.currentVersion.empty()) {
        WriteLog("bx.log", "a", "unknown current_version\n");
        return false;
    }
    return true;
}

bool RecordInstalledVersion(const std::wstring& version) {
    if (version.empty()) return false;
    return WriteVersionRecord(TheInstallLayout().versionFile, version);
}
