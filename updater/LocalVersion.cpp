#include "updater/LocalVersion.h"

#include <windows.h>

#include <string>
#include <vector>

#include "bridge/SelfModule.h"
#include "support/Log.h"
#include "support/PathUtils.h"
#include "updater/UpdaterState.h"

namespace {

// Beside the library; empty without its directory (a bare "\version.bin" would name the
// root of the current drive).
std::wstring VersionFilePath() {
    std::wstring directory = GetModuleDirectory(GetSelfModule());
    return directory.empty() ? std::wstring() : directory + L"\\version.bin";
}

}  // namespace

std::wstring ReadInstalledVersion() {
    std::vector<wchar_t> value(kVersionChars, L'\0');
    std::wstring file = VersionFilePath();
    if (!file.empty()) {
        GetPrivateProfileStringW(L"conf", L"version", L"", value.data(), kVersionChars,
                                 file.c_str());
    }
    return std::wstring(value.data());
}

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
    std::wstring file = VersionFilePath();
    if (file.empty() || version.empty()) return false;
    return WritePrivateProfileStringW(L"conf", L"version", version.c_str(), file.c_str()) != 0;
}
