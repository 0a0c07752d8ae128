// The twelve Direct3D exports, each calling the matching slot of its render bridge.
#include "Orvex.h"
#include "bridge/Globals.h"

extern "C" {

UINT32 WINAPI OrvexDx8Initialize(IDirect3DDevice8* device, OrvexPresentParams8* params, bool flag) {
    return TheBridgeDx8().Initialize(device, params, flag);
}
UINT32 WINAPI OrvexDx8Render() { return TheBridgeDx8().Render(); }
UINT32 WINAPI OrvexDx8RenderEx() { return TheBridgeDx8().RenderEx(); }
UINT32 WINAPI OrvexDx8Finalize() { return TheBridgeDx8().Finalize(); }
void WINAPI OrvexDx8OnDeviceReset(OrvexPresentParams8* params) {
    TheBridgeDx8().OnDeviceReset(params);
}
void WINAPI OrvexDx8OnDeviceLost() { TheBridgeDx8().OnDeviceLost(); }

UINT32 WINAPI OrvexDx9Initialize(IDirect3DDevice9* device, OrvexPresentParams9* params, bool flag) {
    return TheBridgeDx9().Initialize(device, params, flag);
}
UINT32 WINAPI OrvexDx9Render() { return TheBridgeDx9().Render(); }
UINT32 WINAPI OrvexDx9RenderEx() { return TheBridgeDx9().RenderEx(); }
UINT32 WINAPI OrvexDx9Finalize() { return TheBridgeDx9().Finalize(); }
void WINAPI OrvexDx9OnDeviceReset(OrvexPresentParams9* params) {
    TheBridgeDx9().OnDeviceReset(params);
}
void WINAPI OrvexDx9OnDeviceLost() { TheBridgeDx9().OnDeviceLost(); }

}  // extern "C"
