// The one process-wide record through which the updater steps hand values to each other.
// Touched only by the updater thread (and built/destroyed with the library).
#pragma once

#include <string>
#include <vector>

// One file of the check list. md5 and sha256 stay narrow, byte for byte as the list gives
// them; sha256 is empty when the entry has none.
struct CheckFileRecord {
    std::wstring name;  // relative to the installation directory
    std::wstring remote_file_url;
    std::string md5;
    std::string sha256;
    bool needs_repair = false;
};

// A delta archive the manifest offers for one installed version (see DeltaUpdate.h). sha256
// stays narrow, as the manifest gives it; empty when it gives none.
struct DeltaOffer {
    std::wstring from;  // the installed version it applies to, exact text
    std::wstring url;
    std::string sha256;
};

struct UpdaterState {
    std::wstring gameId;
    std::wstring areaId;
    std::wstring groupId;
    std::wstring currentVersion;
    std::wstring latestVersion;
    std::wstring packageUrl;
    std::wstring patchUrl;
    std::string packageSha256;  // as the manifest gives them; empty when it gives none
    std::string patchSha256;
    std::string checklistSha256;  // the check list the manifest names; empty when none
    // Deltas to latestVersion, from the element that set both the url and the version.
    std::vector<DeltaOffer> deltas;
    // The serial of the signed manifest this run accepted, for the installation's record.
    unsigned long long manifestSerial = 0;
    bool hasManifestSerial = false;
    std::wstring installDir;
    std::wstring startFlag;
    std::vector<CheckFileRecord> checkFiles;

    // A new run starts from nothing, so values of an earlier run never leak into it.
    void Clear() { *this = UpdaterState(); }
};

UpdaterState& TheUpdaterState();
