#include "installation/UpdateLock.h"

#include <atomic>

namespace {

// Id of the thread of this process that owns the lock, 0 for none. Only that thread writes
// it while it owns the lock, so a reader on another thread sees either value harmlessly.
std::atomic<DWORD> g_ownerThread{0};

HANDLE OpenUpdateMutex(const wchar_t* name) {
    return name != nullptr ? CreateMutexW(nullptr, FALSE, name) : nullptr;
}

bool Acquired(DWORD wait) { return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED; }

}  // namespace

bool UpdateLock::TryAcquire(DWORD waitMs) {
    if (owned_) return true;
    if (!mutex_) mutex_.Reset(OpenUpdateMutex(mutexName_));
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

bool IsUpdateLockHeldElsewhere(const wchar_t* mutexName) {
    if (g_ownerThread.load() == GetCurrentThreadId()) return false;
    ScopedKernelHandle probe(OpenUpdateMutex(mutexName));
    if (!probe) return false;
    DWORD wait = WaitForSingleObject(probe.Get(), 0);
    if (!Acquired(wait)) return true;
    ReleaseMutex(probe.Get());
    return false;
}
