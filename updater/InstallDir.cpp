#include "updater/InstallDir.h"

#include "bridge/SelfModule.h"
#include "support/PathUtils.h"
#include "updater/UpdaterState.h"

std::wstring DefaultInstallDir() {
    std::wstring directory = GetModuleDirectory(GetSelfModule());
    if (directory.empty()) return std::wstring();
    return directory + L"\\bin\\";
}

std::wstring InstallDirOrDefault() {
    const std::wstring& installDir = TheUpdaterState().installDir;
    return installDir.empty() ? DefaultInstallDir() : installDir;
}

InstallLayout TheInstallLayout() { return LayoutForBridgeDir(GetModuleDirectory(GetSelfModule())); }
