// The one process-wide record through which the updater steps hand values to each other.
// Touched only by the updater thread (and built/destroyed with the library).
#pragma once

#include <string>
#include <vector>

// One file of the check list. md5 stays narrow, byte for byte as the list gives it.
struct CheckFileRecord {
    std::wstring name;  // relative to the installation directory
    std::wstring remote_file_url;
    std::string md5;
    bool needs_repair = false;
};

struct UpdaterState {
    std::wstring gameId;
    std::wstring areaId;
    std::wstring groupId;
    std::wstring currentVersion;
    std::wstring latestVersion;
    std::wstring packageUrl;
    std::wstring patchUrl;
    std::wstring installDir;
    std::wstring startFlag;
    std::vector<CheckFileRecord> checkFiles;

    // A new run starts from nothing, so values of an earlier run never leak into it.
    void Clear() { *this = UpdaterState(); }
};

UpdaterState& TheUpdaterState();
