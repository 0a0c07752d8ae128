#include "bridge/SelfModule.h"

#include <cwchar>

namespace {

HMODULE g_selfModule = nullptr;
// The library's path never changes while it is loaded, so it is read once when DllMain
// records the handle instead of on every render call that needs it.
wchar_t g_selfPath[kPathChars] = {};
bool g_selfPathRead = false;
bool g_selfPathValid = false;

bool ReadModulePath(HMODULE module, wchar_t (&path)[kPathChars]) {
    path[0] = L'\0';
    DWORD length = GetModuleFileNameW(module, path, kPathChars);
    if (length == 0 || length >= kPathChars) {  // failed or cut
        path[0] = L'\0';
        return false;
    }
    return true;
}

}  // namespace

void SetSelfModule(HMODULE module) {
    g_selfModule = module;
    g_selfPathValid = ReadModulePath(module, g_selfPath);
    g_selfPathRead = true;
}

HMODULE GetSelfModule() { return g_selfModule; }

bool GetSelfPath(wchar_t (&path)[kPathChars]) {
    // Code linked into a program rather than the library has no recorded module.
    if (!g_selfPathRead) return ReadModulePath(g_selfModule, path);
    std::wmemcpy(path, g_selfPath, kPathChars);
    return g_selfPathValid;
}
