#include "updater/FileRepair.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "http/FileDownload.h"
#include "installation/FileChange.h"
#include "installation/InstallChange.h"
#include "installation/Recovery.h"
#include "support/LastError.h"
#include "support/FileDigest.h"
#include "support/Log.h"
#include "support/PathUtils.h"
#include "updater/DownloadLimits.h"
#include "updater/InstallDir.h"
#include "updater/PayloadDigest.h"
#include "updater/RepairDeadline.h"
#include "updater/UpdaterState.h"

namespace {

constexpr int kTriesPerFile = 3;
// The shortest a try is given near the deadline, so that it can still finish.
constexpr DWORD kShortestTryMs = 1000;

int AtMost(int value, DWORD bound) {
    return static_cast<DWORD>(value) > bound ? static_cast<int>(bound) : value;
}

// The repair download's settings with no time-out and no body limit longer than the time
// left in the pass, so that the last try ends near the deadline instead of far past it.
DownloadSettings TryLimits(ULONGLONG remainingMs) {
    DownloadSettings settings = DownloadLimits(DownloadKind::RepairFile);
    DWORD bound = static_cast<DWORD>(std::min<ULONGLONG>(remainingMs, MAXDWORD));
    bound = std::max(bound, kShortestTryMs);
    settings.resolveMs = AtMost(settings.resolveMs, bound);
    settings.connectMs = AtMost(settings.connectMs, bound);
    settings.sendMs = AtMost(settings.sendMs, bound);
    settings.receiveMs = AtMost(settings.receiveMs, bound);
    settings.bodyTimeLimitMs = std::min(settings.bodyTimeLimitMs, bound);
    return settings;
}

// Downloads url into path. On failure the partial file is removed and the reason returned.
DWORD Download(const std::wstring& url, const std::wstring& path,
               const DownloadSettings& settings) {
    DWORD error = ERROR_SUCCESS;
    DownloadToFile(url, path, settings, error);
    return error;
}

// Moves the verified download over the target in one step, so a process that dies finds
// the old file or the new one. A read-only target is replaced too and stays read-only; on
// failure the target keeps its content and attributes.
DWORD Replace(const std::wstring& download, const std::wstring& target) {
    DWORD attributes = GetFileAttributesW(target.c_str());
    bool readOnly =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    CreateDirectoryPath(GetParentPath(target).c_str());  // the name may add directories
    DWORD error = ERROR_SUCCESS;
    if (!MoveInstalledFile(download, target)) {
        error = LastErrorOr(ERROR_ACCESS_DENIED);
        DeleteFileW(download.c_str());
    }
    if (readOnly) SetInstalledAttributes(target, attributes);
    return error;
}

// One try: download into the work area, verify, replace. ERROR_SUCCESS or the reason.
DWORD RepairOnce(const CheckFileRecord& record, const std::wstring& target,
                 const std::wstring& download, const DownloadSettings& settings) {
    if (download.size() >= MAX_PATH || target.size() >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
    CreateDirectoryPath(GetParentPath(download).c_str());
    DWORD error = Download(record.remote_file_url, download, settings);
    if (error != ERROR_SUCCESS) return error;
    // The SHA-256 first: a forged file can be made to match the MD5, not this one. Either
    // mismatch fails the try like an error page.
    if (!PayloadMatchesDigest(record.sha256, download, record.remote_file_url)) return ERROR_CRC;
    // An error page with a Content-Length arrives "complete": only the digest tells.
    if (!FileMatchesMd5(record.md5.c_str(), download.c_str())) {
        DeleteFileW(download.c_str());
        return ERROR_CRC;
    }
    return Replace(download, target);
}

}  // namespace

bool RepairFiles() {
    const ULONGLONG deadline = GetTickCount64() + RepairPassDeadlineMs();
    UpdaterState& state = TheUpdaterState();
    InstallLayout layout = LayoutForInstallDir(InstallDirOrDefault());
    // An installation that a dead process left half changed is not repaired file by file.
    if (layout.installDir.empty() || InstallationHasJournal(layout)) return true;
    auto marked = [](const CheckFileRecord& record) { return record.needs_repair; };
    int notRepaired =
        static_cast<int>(std::count_if(state.checkFiles.begin(), state.checkFiles.end(), marked));
    for (const CheckFileRecord& record : state.checkFiles) {
        if (!record.needs_repair) continue;
        std::wstring target = layout.installDir + record.name;
        // Downloads stay out of the installation until verified, on its volume.
        std::wstring download = layout.repairDir + L"\\" + record.name;
        // Bounded, so a server that keeps refusing one file cannot hold back the update
        // result; a file still damaged is tried again on the next run.
        for (int attempt = 0; attempt < kTriesPerFile; ++attempt) {
            // The pass holds the installation's update lock: a slow host must not keep it
            // for hours. The files left wait for the next start.
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline) {
                WriteLog("bx.log", "a", "repair pass deadline reached(%d)\n", notRepaired);
                ClearWorkTrees(layout);
                return true;
            }
            DWORD error = RepairOnce(record, target, download, TryLimits(deadline - now));
            if (error == ERROR_SUCCESS) {
                --notRepaired;
                break;
            }
            WriteLog("bx.log", "a", "get file check list failed(%d)\n", static_cast<int>(error));
        }
    }
    ClearWorkTrees(layout);
    return true;
}
