// Links every export of OrvexBridge.dll through its import library, then calls one: asking
// for an interface before OrvexInitialize answers 1 and leaves the out pointer alone.
#include <cstdio>

#include "Orvex.h"

int main() {
    const void* exports[] = {
        reinterpret_cast<const void*>(&OrvexInitialize),
        reinterpret_cast<const void*>(&OrvexGetModule),
        reinterpret_cast<const void*>(&OrvexTerminal),
        reinterpret_cast<const void*>(&OrvexModifyAppInfo),
        reinterpret_cast<const void*>(&OrvexLogin),
        reinterpret_cast<const void*>(&OrvexLogout),
        reinterpret_cast<const void*>(&OrvexGetLoginState),
        reinterpret_cast<const void*>(&OrvexOnWindowProc),
        reinterpret_cast<const void*>(&OrvexHasUI),
        reinterpret_cast<const void*>(&OrvexShow),
        reinterpret_cast<const void*>(&OrvexMoveTo),
        reinterpret_cast<const void*>(&OrvexDx8Initialize),
        reinterpret_cast<const void*>(&OrvexDx8Render),
        reinterpret_cast<const void*>(&OrvexDx8RenderEx),
        reinterpret_cast<const void*>(&OrvexDx8Finalize),
        reinterpret_cast<const void*>(&OrvexDx8OnDeviceReset),
        reinterpret_cast<const void*>(&OrvexDx8OnDeviceLost),
        reinterpret_cast<const void*>(&OrvexDx9Initialize),
        reinterpret_cast<const void*>(&OrvexDx9Render),
        reinterpret_cast<const void*>(&OrvexDx9RenderEx),
        reinterpret_cast<const void*>(&OrvexDx9Finalize),
        reinterpret_cast<const void*>(&OrvexDx9OnDeviceReset),
        reinterpret_cast<const void*>(&OrvexDx9OnDeviceLost),
    };
    for (const void* address : exports) {
        if (address == nullptr) return 2;
    }
    void* out = &out;
    UINT32 result = OrvexGetModule(&IID_IORVEXApp, &out);
    std::printf("OrvexGetModule before OrvexInitialize -> %u\n", result);
    return result == 1 && out == &out ? 0 : 1;
}
