#include "updater/UpdateDriver.h"

#include <objbase.h>

#include <atomic>
#include <memory>

#include "bridge/UpdateGate.h"
#include "installation/UpdateLock.h"
#include "support/Log.h"
#include "installation/Recovery.h"
#include "support/TextConvert.h"
#include "updater/DeltaUpdate.h"
#include "updater/FileCheckList.h"
#include "updater/FileRepair.h"
#include "updater/InstallDir.h"
#include "updater/LocalVersion.h"
#include "updater/ManifestSerial.h"
#include "updater/PackageInstall.h"
#include "updater/PatchUpdate.h"
#include "updater/SigningKey.h"
#include "updater/UpdaterState.h"
#include "updater/VersionManifest.h"

namespace {

// A reference on the library that holds this code, so unloading the library while the
// thread runs leaves the code in place until the thread leaves it.
HMODULE ReferenceOwnLibrary() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&UpdaterThreadProc), &module);
    return module;
}

// How long the updater waits for the installation's lock. Others hold it only for a render
// probe or a core load, unless they are changing the installation, in which case this run
// changes nothing.
constexpr DWORD kLockWaitMs = 500;
// Before recovering or changing the installation a game waits longer: the lock may be held
// for a moment by its own render thread loading the core, or by another game's short step,
// which a slow machine stretches well past half a second.
constexpr DWORD kChangeLockWaitMs = 30000;

// Set by the host thread before a run starts, cleared by the run's thread after it reported.
std::atomic<bool> g_updaterActive{false};

}  // namespace

bool IsUpdaterActive() { return g_updaterActive.load(); }

void StartUpdater(const AppInfo& info) {
    std::unique_ptr<UpdaterThreadArgs> args(new UpdaterThreadArgs());
    args->text1 = info.pwszText1 ? info.pwszText1 : L"";
    args->info.cbSize = 32;
    args->info.nGameId = info.nGameId;
    args->info.pwszText1 = args->text1.c_str();
    args->info.nDxVersion = info.nDxVersion;
    args->info.nAreaId = info.nAreaId;
    args->info.nGroupId = info.nGroupId;
    args->libraryRef = ReferenceOwnLibrary();

    g_updaterActive.store(true);
    HANDLE thread = CreateThread(nullptr, 0, UpdaterThreadProc, args.get(), 0, nullptr);
    if (thread == nullptr) {
        // Nothing will ever report: open the gate rather than keep it shut for ever.
        if (args->libraryRef != nullptr) FreeLibrary(args->libraryRef);
        SetUpdateResult(1);
        g_updaterActive.store(false);
        return;
    }
    args.release();  // the thread owns it now
    CloseHandle(thread);
}

DWORD WINAPI UpdaterThreadProc(void* parameter) {
    std::unique_ptr<UpdaterThreadArgs> args(static_cast<UpdaterThreadArgs*>(parameter));
    HMODULE libraryRef = args->libraryRef;
    CoInitialize(nullptr);
    try {
        RunUpdate(*args);
    } catch (...) {
        // A failed step never stops the run's report.
    }
    CoUninitialize();
    args.reset();
    SetUpdateResult(TheUpdaterState().startFlag == L"1" ? 1 : 0);
    g_updaterActive.store(false);  // the state is not touched after this
    if (libraryRef != nullptr) FreeLibraryAndExitThread(libraryRef, 0);
    return 0;
}

void RunUpdate(const UpdaterThreadArgs& args) {
    UpdaterState& state = TheUpdaterState();
    state.Clear();

    DeleteFileW(L"bx.log");
    WriteLog("game_info.log", "a", "pAppInfo:(%d)  nGroupId:(%d)  nAreaId:(%d)  \n",
             args.info.nGameId, args.info.nGroupId, args.info.nAreaId);

    state.gameId += DecimalText(args.info.nGameId);
    state.groupId += DecimalText(args.info.nGroupId);
    state.areaId += DecimalText(args.info.nAreaId);
    state.startFlag = L"1";

    // A first instance owns the lock for its whole run, so games started meanwhile wait for
    // its update; a later game takes it only to change files, so it never waits for its own
    // manifest. Released when the run returns, before the thread reports its result.
    const bool wholeRun = IsFirstInstance();
    wchar_t lockName[MAX_PATH];
    UpdateLock lock(UpdateMutexName(lockName));
    if (wholeRun) lock.TryAcquire(kLockWaitMs);

    // A change that a dead process left half done is finished or undone before anything else
    // looks at the installation; the loader refuses it while its journal stays.
    if (lock.TryAcquire(kChangeLockWaitMs)) RecoverInstallation(TheInstallLayout());
    if (!wholeRun) lock.Release();

    // A package left by an interrupted run is unpacked when no installed package is found;
    // with a studio's key only once the signed manifest has vouched for its bytes.
    const bool keyed = SigningKeyBuiltIn();
    if (!keyed && !ProbePackage() && lock.TryAcquire(kLockWaitMs)) InstallPendingPackage();
    if (!wholeRun) lock.Release();
    GetVersionInfo();
    GetUpdateInfo();
    if (keyed && !ProbePackage() && lock.TryAcquire(kLockWaitMs)) InstallVerifiedPendingPackage();

    // Nothing below may change the installation while another game updates it.
    const bool locked = lock.TryAcquire(kChangeLockWaitMs);
    // The manifest's serial is recorded whatever the run then manages to do.
    if (locked) RecordManifestSerial();
    if (!locked || IsUpdateRunning() != 0) return;
    // Another game may have installed or patched since the version was read.
    state.currentVersion = ReadInstalledVersion();
    if (state.currentVersion.empty()) {
        Install();
        return;
    }
    if (state.latestVersion != state.currentVersion) {
        // A delta for the installed version first; the whole-file patch when there is none or
        // it fails before anything changed.
        DeltaResult delta = UpdateByDelta(state.deltas, state.currentVersion, state.latestVersion);
        if (delta == DeltaResult::Installed || delta == DeltaResult::ChangeFailed) return;
        if (update(state.patchUrl, state.patchSha256, state.latestVersion) &&
            delta == DeltaResult::Failed)
            DiscardDeltaDownload();
        return;
    }
    GetCheckFileList();
    RepairFiles();
}
