#include "updater/FileRepair.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "http/FileDownload.h"
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
// The download lands beside the target, so the replace stays on one volume.
constexpr const wchar_t* kDownloadSuffix = L".download";

// The reason of a failed step; a failure that set no code still logs a non-zero one.
DWORD LastErrorOr(DWORD fallback) {
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

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

// Moves the verified download over the target. A read-only target is replaced too and
// stays read-only; on failure the target keeps its content and attributes.
DWORD Replace(const std::wstring& download, const std::wstring& target) {
    DWORD attributes = GetFileAttributesW(target.c_str());
    bool readOnly =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly) SetFileAttributesW(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    DWORD error = ERROR_SUCCESS;
    if (!MoveFileExW(download.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = LastErrorOr(ERROR_ACCESS_DENIED);
        DeleteFileW(download.c_str());
    }
    if (readOnly) SetFileAttributesW(target.c_str(), attributes);
    return error;
}

// One try: download beside the target, verify, replace. ERROR_SUCCESS or the reason.
DWORD RepairOnce(const CheckFileRecord& record, const std::wstring& target,
                 const DownloadSettings& settings) {
    std::wstring download = target + kDownloadSuffix;
    if (download.size() >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
    CreateDirectoryPath(GetParentPath(target).c_str());  // the name may add directories
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
    std::wstring installDir = InstallDirOrDefault();
    if (installDir.empty()) return true;
    auto marked = [](const CheckFileRecord& record) { return record.needs_repair; };
    int notRepaired =
        static_cast<int>(std::count_if(state.checkFiles.begin(), state.checkFiles.end(), marked));
    for (const CheckFileRecord& record : state.checkFiles) {
        if (!record.needs_repair) continue;
        std::wstring target = installDir + record.name;
        // Bounded, so a server that keeps refusing one file cannot hold back the update
        // result; a file still damaged is tried again on the next run.
        for (int attempt = 0; attempt < kTriesPerFile; ++attempt) {
            // The pass holds the installation's update lock: a slow host must not keep it
            // for hours. The files left wait for the next start.
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline) {
                WriteLog("bx.log", "a", "repair pass deadline reached(%d)\n", notRepaired);
                return true;
            }
            DWORD error = RepairOnce(record, target, TryLimits(deadline - now));
            if (error == ERROR_SUCCESS) {
                --notRepaired;
                break;
            }
            WriteLog("bx.log", "a", "get file check list failed(%d)\n", static_cast<int>(error));
        }
    }
    return true;
}
