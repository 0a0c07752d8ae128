// The reason of a failed platform call for a log line.
#pragma once

#include <windows.h>

// The thread's last-error code, or fallback when the failure set none, so a logged failure
// never reads as success.
inline DWORD LastErrorOr(DWORD fallback) {
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}
