#include "bridge/UpdateGate.h"

#include <atomic>

#include "bridge/SelfModule.h"
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
}  // namespace

const wchar_t* UpdateMutexName(wchar_t (&name)[kPathChars]) {
    // Probed on every render call while a later game waits: no allocation here.
    if (!GetSelfPath(name)) return nullptr;
    for (wchar_t* c = name; *c != L'\0'; ++c) {
        if (*c == L'\\') *c = L'/';
    }
    return name;
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
