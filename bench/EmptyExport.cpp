// The render benchmark's reference: an exported function that does nothing, in a DLL built
// with the same compiler, flags and calling convention as the bridge's exports.
#include <windows.h>

extern "C" UINT32 WINAPI EmptyRender() { return 0; }
