#include "updater/LocalVersion.h"

#include <windows.h>

#include <string>
#include <vector>

#include "bridge/SelfModule.h"
#include "support/Log.h"
#include "support/PathUtils.h"
#include "updater/UpdaterState.h"

bool GetVersionInfo() {
    UpdaterState& state = TheUpdaterState();
    std::vector<wchar_t> value(kVersionChars, L'\0');

    // Without the library's directory there is no file to read: "\version.bin" would
    // name the root of the current drive.
    std::wstring directory = GetModuleDirectory(GetSelfModule());
    if (!directory.empty()) {
        std::wstring file = directory + L"\\version.bin";
        GetPrivateProfileStringW(L"conf", L"version", L"", value.data(), kVersionChars,
                                 file.c_str());
    }

    state.currentVersion.assign(value.data());
    if (state.currentVersion.empty()) {
        WriteLog("bx.log", "a", "unknown current_version\n");
        return false;
    }
    return true;
}
