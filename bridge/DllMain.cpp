#include <windows.h>

#include "bridge/SelfModule.h"

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) SetSelfModule(module);
    return TRUE;
}
