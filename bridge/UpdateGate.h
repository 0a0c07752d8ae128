// The update gate shared by the render thread and the updater thread: the installation's
// named mutex (installation/UpdateLock.h), the first-instance flag and the update result.
#pragma once

#include <windows.h>

#include <atomic>

// Single-writer words read by the other thread without a lock: the first-instance flag,
// written only by CreateUpdateMutex, and the update result, written by it and by
// SetUpdateResult. A reader may see a new value a call late, never a torn one.
extern std::atomic<UINT32> g_firstInstance;
extern std::atomic<UINT32> g_updateResult;

// The gate's first test, inline because it runs on every render call of a waiting first
// instance: two word reads, no call.
inline bool IsFirstInstanceWaiting() {
    return g_firstInstance.load(std::memory_order_relaxed) == 1 &&
           g_updateResult.load(std::memory_order_relaxed) == 0;
}

// Name of the installation's mutex (installation/UpdateLock.h) into name: the lock name of
// this library's own folder (installation/LockName.h), so every spelling of the folder's
// path gives one lock. Read once and kept, since it is asked on every render call while the
// core is not loaded. Returns name, or null when it cannot be had.
const wchar_t* UpdateMutexName(wchar_t (&name)[MAX_PATH]);

class UpdateLock;

// OrvexInitialize: creates the mutex. The first instance keeps its handle until its
// updater reports, so games started meanwhile are later games; a process that finds the
// mutex already existing keeps none.
// A new run after a finished one decides the first instance afresh and starts from an
// update result of 0.
void CreateUpdateMutex();

// True when this process created the mutex at its last initialisation.
bool IsFirstInstance();

// 1 when some other thread or process owns the installation's lock, else 0.
UINT32 IsUpdateRunning();

// The updater's last act: releases the kept mutex handle and publishes the result.
void SetUpdateResult(UINT32 result);

// Whether the core module may be loaded now (asked on every render call while unloaded):
// a first instance waits for its own update result of 1; then every game needs the lock,
// which loadLock keeps for the length of the load.
bool IsLoadGateOpen(UpdateLock& loadLock);
