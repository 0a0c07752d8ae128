#include "bridge/UpdateLock.h"

#include <atomic>

#include "bridge/UpdateGate.h"

namespace {

// Id of the thread of this process that owns the lock, 0 for none. Only that thread writes
// it while it owns the lock, so a reader on another thread sees either value harmlessly.
std::atomic<DWORD> g_ownerThread{0};

HANDLE OpenUpdateMutex() {
    wchar_t name[MAX_PATH];
    if (!UpdateMutexName(name)) return nullptr;
    return CreateMutexW(nullptr, FALSE, name);
}

bool Acquired(DWORD wait) { return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED; }

}  // namespace

bool UpdateLock::TryAcquire(DWORD waitMs) {
    if (owned_) return true;
    if (!mutex_) mutex_.Reset(OpenUpdateMutex());
    if (!mutex_) return false;
    owned_ = Acquired(WaitForSingleObject(mutex_.Get(), waitMs));
    if (owned_) g_ownerThread.store(GetCurrentThreadId());
    return owned_;
}

void UpdateLock::Release() {
    if (owned_) {
        g_ownerThread.store(0);
        ReleaseMutex(mutex_.Get());
        owned_ = false;
    }
    mutex_.Close();
}

bool IsUpdateLockHeldElsewhere() {
    if (g_ownerThread.load() == GetCurrentThreadId()) return false;
    ScopedKernelHandle probe(OpenUpdateMutex());
    if (!probe) return false;
    DWORD wait = WaitForSingleObject(probe.Get(), 0);
    if (!Acquired(wait)) return true;
    ReleaseMutex(probe.Get());
    return false;
}
