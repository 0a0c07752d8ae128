// The installation's lock across processes: ownership of the installation's named mutex.
// The lock belongs to the installation folder, not to a process or a path: its name comes
// from the folder's identity (LockName.h), so games that reach one folder through different
// spellings of its path share it.
//
// The mutex has two meanings. Its existence at initialisation tells a game whether it is
// the first instance (see bridge/UpdateGate.h). Its ownership is the lock. A first instance's
// updater owns it for its whole run, so games started meanwhile wait for that update; a
// later game's updater owns it only around the steps that change the installation (pending
// install; install, patch or repair), so it never waits for its own manifest. Both release
// it before they report. A core-module load owns it for the length of the load. So at most
// one process changes an installation at a time, and no process loads the core module while
// another changes it. A mutex whose owner died is handed over as abandoned, which counts as
// acquired: a crashed game never blocks later ones. Ownership is per thread, so the thread
// that acquires is the one that releases.
#pragma once

#include <windows.h>

#include "support/ScopedHandle.h"

class UpdateLock {
  public:
    // mutexName: the installation's mutex name, kept (not copied) for the lock's life; null
    // when it could not be had, and then the lock is never acquired.
    explicit UpdateLock(const wchar_t* mutexName) : mutexName_(mutexName) {}
    ~UpdateLock() { Release(); }
    UpdateLock(const UpdateLock&) = delete;
    UpdateLock& operator=(const UpdateLock&) = delete;

    // Waits up to waitMs for the lock; true when this object owns it (already or now).
    bool TryAcquire(DWORD waitMs);
    bool Owned() const { return owned_; }
    // Gives the lock up (if owned) and closes the handle. Idempotent.
    void Release();

  private:
    const wchar_t* mutexName_;
    ScopedKernelHandle mutex_;
    bool owned_ = false;
};

// One probe: true when some thread, of any process but this one's calling thread, owns the
// lock named mutexName now. Opens, tries and closes the mutex; no allocation.
bool IsUpdateLockHeldElsewhere(const wchar_t* mutexName);
