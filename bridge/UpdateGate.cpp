#include "bridge/UpdateGate.h"

#include <atomic>
#include <cwchar>

#include "bridge/SelfModule.h"
#include "installation/LockName.h"
#include "installation/UpdateLock.h"
#include "support/ScopedHandle.h"

std::atomic<UINT32> g_firstInstance{0};
std::atomic<UINT32> g_updateResult{0};

namespace {
// Single-writer words read by the other thread without a lock. The kept mutex handle is
// handed between threads, so it lives in an atomic word rather than an owner object; it
// is closed exactly once, by whoever exchanges it out.
std::atomic<HANDLE> g_mutexHandle{nullptr};

// Creates (or opens) the named mutex, not owned: ownership is the lock, taken by the
// updater thread itself. Reports whether it already existed.
HANDLE CreateNamedUpdateMutex(bool& alreadyExisted) {
    alreadyExisted = false;
    wchar_t name[kPathChars];
    if (UpdateMutexName(name) == nullptr) return nullptr;
    HANDLE handle = CreateMutexW(nullptr, FALSE, name);
    alreadyExisted = GetLastError() == ERROR_ALREADY_EXISTS;
    return handle;
}

// The lock name of this library's folder, kept once read: the folder does not move while
// the library is loaded from it.
enum : int { kNameNone, kNamePublishing, kNameReady, kNameFailed };
std::atomic<int> g_lockNameState{kNameNone};
wchar_t g_lockName[kPathChars] = {};

bool ReadOwnLockName(wchar_t (&name)[kPathChars]) {
    name[0] = L'\0';
    wchar_t directory[kPathChars];
    if (!GetSelfPath(directory)) return false;
    wchar_t* slash = std::wcsrchr(directory, L'\\');
    if (slash == nullptr) return false;
    *slash = L'\0';
    return InstallationLockName(directory, name);
}
}  // namespace

const wchar_t* UpdateMutexName(wchar_t (&name)[kPathChars]) {
    // The render thread and the updater thread may both ask first: each computes its own
    // copy, and the first to claim the slot publishes it. No file is opened once it is kept.
    int state = g_lockNameState.load(std::memory_order_acquire);
    if (state == kNameFailed) return nullptr;
    if (state == kNameReady) {
        std::wmemcpy(name, g_lockName, kPathChars);
        return name;
    }
    const bool read = ReadOwnLockName(name);
    int none = kNameNone;
    if (g_lockNameState.compare_exchange_strong(none, kNamePublishing)) {
        if (read) std::wmemcpy(g_lockName, name, kPathChars);
        g_lockNameState.store(read ? kNameReady : kNameFailed, std::memory_order_release);
    }
    return read ? name : nullptr;
}

void CreateUpdateMutex() {
    g_updateResult.store(0);
    bool alreadyExisted = false;
    HANDLE handle = CreateNamedUpdateMutex(alreadyExisted);
    if (!alreadyExisted) {
        g_firstInstance.store(1);
        // Held until this process's updater reports, so other processes wait for it.
        HANDLE previous = g_mutexHandle.exchange(handle);
        if (previous != nullptr) CloseHandle(previous);
    } else {
        g_firstInstance.store(0);
        ScopedKernelHandle notKept(handle);
    }
}

bool IsFirstInstance() { return g_firstInstance.load() == 1; }

UINT32 IsUpdateRunning() {
    wchar_t name[kPathChars];
    return IsUpdateLockHeldElsewhere(UpdateMutexName(name)) ? 1 : 0;
}

void SetUpdateResult(UINT32 result) {
    HANDLE handle = g_mutexHandle.exchange(nullptr);
    if (handle != nullptr) CloseHandle(handle);
    g_updateResult.store(result);
}

bool IsLoadGateOpen(UpdateLock& loadLock) {
    if (IsFirstInstanceWaiting()) return false;
    // One probe per render call; when it succeeds the lock is kept for the load.
    return loadLock.TryAcquire(0);
}
