// The user's temporary directory holds fixed names every game's updater uses: the two
// downloaded documents. Games of different installations hold different update locks, so
// without this lock two of them could write one document file at once. (Patches and
// packages are staged in each installation's own work area, which its update lock guards.)
// Ownership of a named mutex per temporary directory; a dead owner's mutex counts as taken
// over, so a crashed game never blocks the others.
#pragma once

#include <windows.h>

#include "support/ScopedHandle.h"

// How long an updater waits for another game's use of the temporary names.
constexpr DWORD kTempAreaDocumentWaitMs = 60000;

class TempAreaLock {
  public:
    TempAreaLock() = default;
    ~TempAreaLock() { Release(); }
    TempAreaLock(const TempAreaLock&) = delete;
    TempAreaLock& operator=(const TempAreaLock&) = delete;

    // Waits up to waitMs; true when this object owns the lock (already or now).
    bool Acquire(DWORD waitMs);
    // Gives the lock up (if owned) and closes the handle. Idempotent.
    void Release();

  private:
    ScopedKernelHandle mutex_;
    bool owned_ = false;
};
