// Lazy loading of the core module "./bin/Orvex.dll" beside the bridge, on a render call,
// once the update gate is open.
#pragma once

#include <windows.h>

// Returns the core's render interface for renderIid on the one successful load; null
// while the gate is shut, the file is missing, a load failed, or after the first load.
void* LoadCoreModule(const GUID& renderIid);

// Loads a module with its own directory searched first for its dependencies, then the
// process's PATH. Null when the module cannot be loaded.
HMODULE LoadModuleWithSearchPath(const wchar_t* path);

// Calls the core's OrvexTerminal when it has been resolved.
void CallCoreTerminal();
