#include "bridge/SelfModule.h"

namespace {
HMODULE g_selfModule = nullptr;
}

void SetSelfModule(HMODULE module) { g_selfModule = module; }

HMODULE GetSelfModule() { return g_selfModule; }

bool GetSelfPath(wchar_t (&path)[kPathChars]) {
    path[0] = L'\0';
    DWORD length = GetModuleFileNameW(g_selfModule, path, kPathChars);
    if (length == 0 || length >= kPathChars) {  // failed or cut
        path[0] = L'\0';
        return false;
    }
    return true;
}
