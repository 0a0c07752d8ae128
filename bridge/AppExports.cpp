// The host's application exports. No C++ exception may leave an export.
#include <cstring>

#include "Orvex.h"
#include "bridge/CoreLoader.h"
#include "bridge/Globals.h"
#include "bridge/UpdateGate.h"
#include "updater/UpdateDriver.h"

namespace {

UINT32 g_initialised = 0;

// One row of the module query table: writes the object and answers 1 on a match.
typedef int (*ModuleQuery)(const GUID& iid, void** out);

int QueryApp(const GUID& iid, void** out) {
    if (!IsEqualGUID(iid, IID_IORVEXApp)) return 0;
    *out = static_cast<IORVEXApp*>(&TheBridgeApp());
    return 1;
}

int QueryDx8(const GUID& iid, void** out) {
    if (TheBridgeApp().DxVersion() != 8 || !IsEqualGUID(iid, IID_IORVEXDx8)) return 0;
    *out = static_cast<IORVEXDx8*>(&TheBridgeDx8());
    return 1;
}

int QueryDx9(const GUID& iid, void** out) {
    if (TheBridgeApp().DxVersion() != 9 || !IsEqualGUID(iid, IID_IORVEXDx9)) return 0;
    *out = static_cast<IORVEXDx9*>(&TheBridgeDx9());
    return 1;
}

const ModuleQuery kModuleQueries[] = {QueryApp, QueryDx8, QueryDx9};

}  // namespace

extern "C" {

UINT32 WINAPI OrvexInitialize(UINT32 hostHandle, AppInfo* info) {
    if (hostHandle == 0 || info == nullptr) return 1;
    if (g_initialised != 0) return 1;
    try {
        g_initialised = 1;
        OrvexBridgeApp& app = TheBridgeApp();
        app.SetHostHandle(hostHandle);
        app.ModifyAppInfo(info);
        // One run per process at a time: a run still going reports for this one too.
        if (!IsUpdaterActive()) {
            CreateUpdateMutex();
            StartUpdater(*info);
        }
    } catch (...) {
        // Out of memory while copying: nothing new was stored and no run started. Report
        // the failure and stay uninitialised, so the host may try again.
        g_initialised = 0;
        return 1;
    }
    return 0;
}

UINT32 WINAPI OrvexGetModule(const GUID* iid, void** out) {
    if (g_initialised != 1 || iid == nullptr || out == nullptr) return 1;
    for (ModuleQuery query : kModuleQueries) {
        if (query(*iid, out) == 1) return 0;
    }
    return 1;
}

void WINAPI OrvexTerminal() {
    if (g_initialised == 1) {
        try {
            CallCoreTerminal();
        } catch (...) {
        }
    }
    g_initialised = 0;
}

void WINAPI OrvexModifyAppInfo(AppInfo* info) {
    try {
        TheBridgeApp().ModifyAppInfo(info);
    } catch (...) {
    }
}

void WINAPI OrvexLogin(LoginInfo* info) {
    try {
        TheBridgeApp().Login(info);
    } catch (...) {
    }
}

void WINAPI OrvexLogout() {
    try {
        TheBridgeApp().Logout();
    } catch (...) {
    }
}

UINT32 WINAPI OrvexGetLoginState() { return TheBridgeApp().GetLoginState(); }

UINT32 WINAPI OrvexOnWindowProc(UINT32 a, UINT32 b, UINT32 c, UINT32 d, UINT32 e) {
    return TheBridgeApp().OnWindowProc(a, b, c, d, e);
}

UINT32 WINAPI OrvexHasUI(UINT32 value) { return TheBridgeApp().HasUI(value); }

// Exported as both OrvexShow and OrvexMoveTo (one address); it does nothing.
void WINAPI OrvexShowOrMoveTo(UINT32 value) { TheBridgeApp().Show(value); }

}  // extern "C"
