// Public interface of the overlay platform as a game sees it: the host records, the three
// COM-style interfaces with their GUIDs, and the exports. Both OrvexBridge.dll and a core
// module (bin\Orvex.dll) include this header. The contract is the same for 32-bit and 64-bit
// games; only the records' sizes and offsets differ, as noted at each.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// The host's application record: eight 32-bit fields, 32 bytes. A 64-bit build has the same
// fields at their natural alignment: the two text pointers are 8 bytes, 40 bytes in all.
//   field       32-bit offset   64-bit offset
//   cbSize            0               0      size of the record; copied, never examined
//   nGameId           4               4
//   pwszText1         8               8
//   pwszText2        12              16
//   nDxVersion       16              24
//   nReserved        20              28
//   nAreaId          24              32
//   nGroupId         28              36
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

// The login record: three 32-bit fields, 12 bytes; 24 bytes in a 64-bit build, where
// pwszFirst is at offset 8 and pwszSecond at 16. cbSize must be non-zero.
typedef struct LoginInfo {
    UINT32 cbSize;
    const wchar_t* pwszFirst;
    const wchar_t* pwszSecond;
} LoginInfo;

// Present parameters, passed through unchanged. They have the layout of the matching
// Direct3D version's D3DPRESENT_PARAMETERS; the bridge never interprets them, so the
// Direct3D headers are not needed here. On 32-bit Windows they are 13 or 14 32-bit fields.
// On 64-bit Windows the window handle among them is 64 bits and 8-byte aligned: Direct3D
// 8's record is 56 bytes (the handle at offset 24), Direct3D 9's 64 bytes (at offset 32).
#ifdef _WIN64
typedef struct DECLSPEC_ALIGN(8) OrvexPresentParams8 {
    UINT32 fields[14];
} OrvexPresentParams8;

typedef struct DECLSPEC_ALIGN(8) OrvexPresentParams9 {
    UINT32 fields[16];
} OrvexPresentParams9;
#else
typedef struct OrvexPresentParams8 {
    UINT32 fields[13];
} OrvexPresentParams8;

typedef struct OrvexPresentParams9 {
    UINT32 fields[14];
} OrvexPresentParams9;
#endif

#ifdef __cplusplus
}  // extern "C"
#endif

#if defined(__cplusplus) && defined(_WIN64)
static_assert(sizeof(AppInfo) == 40 && offsetof(AppInfo, pwszText2) == 16 &&
                  offsetof(AppInfo, nDxVersion) == 24 && offsetof(AppInfo, nGroupId) == 36,
              "AppInfo: 32-bit fields and 8-byte text pointers");
static_assert(sizeof(LoginInfo) == 24 && offsetof(LoginInfo, pwszFirst) == 8,
              "LoginInfo: cbSize and two 8-byte text pointers");
static_assert(sizeof(OrvexPresentParams8) == 56 && alignof(OrvexPresentParams8) == 8,
              "Direct3D 8 present parameters on 64-bit Windows");
static_assert(sizeof(OrvexPresentParams9) == 64 && alignof(OrvexPresentParams9) == 8,
              "Direct3D 9 present parameters on 64-bit Windows");
#elif defined(__cplusplus) && (defined(_M_IX86) || defined(__i386__))
static_assert(sizeof(AppInfo) == 32, "AppInfo is eight 32-bit fields");
static_assert(sizeof(LoginInfo) == 12, "LoginInfo is three 32-bit fields");
static_assert(sizeof(OrvexPresentParams8) == 52 && sizeof(OrvexPresentParams9) == 56,
              "present parameters are 13 and 14 32-bit fields");
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
