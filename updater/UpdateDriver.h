// The background update run: started by OrvexInitialize, reports to the update gate.
#pragma once

#include <windows.h>

#include <string>

#include "Orvex.h"

// The thread's own copy of the host's record.
struct UpdaterThreadArgs {
    AppInfo info = {};
    std::wstring text1;            // owns info.pwszText1
    HMODULE libraryRef = nullptr;  // reference on the library, released as the thread exits
};

// Copies the record and starts the detached updater thread. When the thread cannot be
// started the copy is freed and the update result 1 is reported at once.
void StartUpdater(const AppInfo& info);

// True while an update run of this process has not yet reported: a new initialisation then
// starts no second run on the same state, and the active run still reports.
bool IsUpdaterActive();

DWORD WINAPI UpdaterThreadProc(void* parameter);

// The update sequence; reads only nGameId, nAreaId and nGroupId.
void RunUpdate(const UpdaterThreadArgs& args);
