// Public interface of the overlay platform as a game sees it: the host records, the three
// COM-style interfaces with their GUIDs, and the exports. Both OrvexBridge.dll and a core
// module (bin\Orvex.dll) include this header.
#pragma once

#include <windows.h>
#include <unknwn.h>

#ifdef __cplusplus
extern "C" {
#endif

// The host's application record: eight 32-bit fields, 32 bytes.
typedef struct AppInfo {
    UINT32 cbSize;
    INT32 nGameId;
    const wchar_t* pwszText1;
    const wchar_t* pwszText2;
    UINT32 nDxVersion;  // 8 or 9
    UINT32 nReserved;   // never read; every copy made by the bridge holds 0
    INT32 nAreaId;
    INT32 nGroupId;
} AppInfo;

// The login record: three 32-bit fields, 12 bytes.
typedef struct LoginInfo {
    UINT32 cbSize;
    const wchar_t* pwszFirst;
    const wchar_t* pwszSecond;
} LoginInfo;

// Present parameters, passed through unchanged. They have the layout of the matching
// Direct3D version's D3DPRESENT_PARAMETERS (13 or 14 32-bit fields); the bridge never
// interprets them, so the Direct3D headers are not needed here.
typedef struct OrvexPresentParams8 {
    UINT32 fields[13];
} OrvexPresentParams8;

typedef struct OrvexPresentParams9 {
    UINT32 fields[14];
} OrvexPresentParams9;

#ifdef __cplusplus
}  // extern "C"
#endif

#if defined(__cplusplus) && (defined(_M_IX86) || defined(__i386__))
static_assert(sizeof(AppInfo) == 32, "AppInfo is eight 32-bit fields");
static_assert(sizeof(LoginInfo) == 12, "LoginInfo is three 32-bit fields");
#endif

struct IDirect3DDevice8;
struct IDirect3DDevice9;

// {7D9035E6-78BB-4A2E-A09D-FE48BD618144}
static const GUID IID_IORVEXApp = {
    0x7d9035e6, 0x78bb, 0x4a2e, {0xa0, 0x9d, 0xfe, 0x48, 0xbd, 0x61, 0x81, 0x44}};
// {436C8ABC-5B8C-4F45-A872-1103BB56834B}
static const GUID IID_IORVEXDx8 = {
    0x436c8abc, 0x5b8c, 0x4f45, {0xa8, 0x72, 0x11, 0x03, 0xbb, 0x56, 0x83, 0x4b}};
// {2C62F176-6801-47F2-BB84-C52DBAFE7585}
static const GUID IID_IORVEXDx9 = {
    0x2c62f176, 0x6801, 0x47f2, {0xbb, 0x84, 0xc5, 0x2d, 0xba, 0xfe, 0x75, 0x85}};

#ifdef __cplusplus

// Slots 0-2 come from IUnknown; the rest follow in this exact order. No virtual
// destructor here, so an object built by any compiler fits the table.
struct IORVEXApp : public IUnknown {
    virtual void STDMETHODCALLTYPE ModifyAppInfo(AppInfo* info) = 0;  // 3
    virtual void STDMETHODCALLTYPE Login(LoginInfo* info) = 0;        // 4
    virtual void STDMETHODCALLTYPE Logout() = 0;                      // 5
    virtual UINT32 STDMETHODCALLTYPE GetLoginState() = 0;             // 6
    virtual UINT32 STDMETHODCALLTYPE OnWindowProc(UINT32 a, UINT32 b, UINT32 c, UINT32 d,
                                                  UINT32 e) = 0;  // 7
    virtual UINT32 STDMETHODCALLTYPE HasUI(UINT32 value) = 0;     // 8
    virtual void STDMETHODCALLTYPE Show(UINT32 value) = 0;        // 9
    virtual void STDMETHODCALLTYPE MoveTo(UINT32 value) = 0;      // 10
};

struct IORVEXDx8 : public IUnknown {
    virtual UINT32 STDMETHODCALLTYPE Initialize(IDirect3DDevice8* device,
                                                OrvexPresentParams8* params, bool flag) = 0;
    virtual UINT32 STDMETHODCALLTYPE Render() = 0;
    virtual UINT32 STDMETHODCALLTYPE RenderEx() = 0;
    virtual UINT32 STDMETHODCALLTYPE Finalize() = 0;
    virtual void STDMETHODCALLTYPE OnDeviceReset(OrvexPresentParams8* params) = 0;
    virtual void STDMETHODCALLTYPE OnDeviceLost() = 0;
};

struct IORVEXDx9 : public IUnknown {
    virtual UINT32 STDMETHODCALLTYPE Initialize(IDirect3DDevice9* device,
                                                OrvexPresentParams9* params, bool flag) = 0;
    virtual UINT32 STDMETHODCALLTYPE Render() = 0;
    virtual UINT32 STDMETHODCALLTYPE RenderEx() = 0;
    virtual UINT32 STDMETHODCALLTYPE Finalize() = 0;
    virtual void STDMETHODCALLTYPE OnDeviceReset(OrvexPresentParams9* params) = 0;
    virtual void STDMETHODCALLTYPE OnDeviceLost() = 0;
};

extern "C" {

// Exports of OrvexBridge.dll. The first three are also the core module's exports.
// Results that report success: 0 success, 1 failure.
UINT32 WINAPI OrvexInitialize(UINT32 hostHandle, AppInfo* info);
UINT32 WINAPI OrvexGetModule(const GUID* iid, void** out);
void WINAPI OrvexTerminal();

void WINAPI OrvexModifyAppInfo(AppInfo* info);
void WINAPI OrvexLogin(LoginInfo* info);
void WINAPI OrvexLogout();
UINT32 WINAPI OrvexGetLoginState();
UINT32 WINAPI OrvexOnWindowProc(UINT32 a, UINT32 b, UINT32 c, UINT32 d, UINT32 e);
UINT32 WINAPI OrvexHasUI(UINT32 value);
void WINAPI OrvexShow(UINT32 value);
void WINAPI OrvexMoveTo(UINT32 value);

UINT32 WINAPI OrvexDx8Initialize(IDirect3DDevice8* device, OrvexPresentParams8* params, bool flag);
UINT32 WINAPI OrvexDx8Render();
UINT32 WINAPI OrvexDx8RenderEx();
UINT32 WINAPI OrvexDx8Finalize();
void WINAPI OrvexDx8OnDeviceReset(OrvexPresentParams8* params);
void WINAPI OrvexDx8OnDeviceLost();

UINT32 WINAPI OrvexDx9Initialize(IDirect3DDevice9* device, OrvexPresentParams9* params, bool flag);
UINT32 WINAPI OrvexDx9Render();
UINT32 WINAPI OrvexDx9RenderEx();
UINT32 WINAPI OrvexDx9Finalize();
void WINAPI OrvexDx9OnDeviceReset(OrvexPresentParams9* params);
void WINAPI OrvexDx9OnDeviceLost();

}  // extern "C"

// Function-pointer types for hosts and the loader that resolve exports by name.
typedef UINT32(WINAPI* PFN_OrvexInitialize)(UINT32 hostHandle, AppInfo* info);
typedef UINT32(WINAPI* PFN_OrvexGetModule)(const GUID* iid, void** out);
typedef void(WINAPI* PFN_OrvexTerminal)();

#endif  // __cplusplus
