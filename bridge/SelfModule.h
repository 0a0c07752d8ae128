// The bridge library's own module handle, recorded by DllMain. The loader, the update
// mutex and the updater find the library's path through it.
#pragma once

#include <windows.h>

#include <cstddef>

constexpr size_t kPathChars = MAX_PATH;  // 260, terminator included

void SetSelfModule(HMODULE module);
HMODULE GetSelfModule();

// Full path of the library into a 260-character buffer. False when the platform call
// fails or the path does not fit.
bool GetSelfPath(wchar_t (&path)[kPathChars]);
