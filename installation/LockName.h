// The name of an installation's lock mutex (UpdateLock.h), derived from the installation
// folder itself rather than from how its path is spelled: "C:\Games\X", "c:\games\x", an 8.3
// short path or a substituted drive all reach one folder, and must give one lock.
#pragma once

#include <windows.h>

// The folder's identity when the file system gives one, as
// "Local\OrvexInstall-<volume serial>-<file index>" in hex. Otherwise (it cannot be opened,
// or its file index is zero) the canonical long path, upper-cased with "/" for "\", after
// "Local\OrvexInstall:". False when neither can be had or the name does not fit.
bool InstallationLockName(const wchar_t* bridgeDirectory, wchar_t (&name)[MAX_PATH]);
