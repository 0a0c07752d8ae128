// The benchmark programs' clock and where they ran.
#pragma once

#include <windows.h>

#include <string>

// Seconds on the high-resolution counter; only differences mean anything.
inline double NowSeconds() {
    LARGE_INTEGER hz, t;
    QueryPerformanceFrequency(&hz);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(hz.QuadPart);
}

// Proves where a figure came from: wine's ntdll names its version, Windows' does not.
inline std::string HostName() {
    using WineVersion = const char*(__cdecl*)();
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    FARPROC proc = ntdll ? GetProcAddress(ntdll, "wine_get_version") : nullptr;
    if (proc == nullptr) return "windows";
    return std::string("wine-") + reinterpret_cast<WineVersion>(reinterpret_cast<void*>(proc))();
}
