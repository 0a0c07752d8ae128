// A core module for tests: implements the three exports and interfaces and appends every
// call it receives, with its arguments, to "core_calls.log" beside itself.
// Variants (compile definitions): TEST_CORE_INIT_FAILS, TEST_CORE_NO_RENDER,
// TEST_CORE_SILENT_RENDER (Render records nothing),
// TEST_CORE_NO_TERMINAL (the export is left out by its .def file).
// Right after the OrvexInitialize line it records "tree=<digest>" of the directory beside
// itself (support/TreeDigest.h): which installation the game loaded it from. Only when the
// environment asks (ORVEX_TEST_CORE_TREE=1): hashing a large installation would make every
// load slow.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "Orvex.h"
#include "support/TreeDigest.h"

namespace {

HMODULE g_module = nullptr;

std::string Narrow(const wchar_t* text) {
    if (text == nullptr) return "(null)";
    std::string out;
    for (; *text; ++text) out += (*text < 128) ? static_cast<char>(*text) : '?';
    return out;
}

unsigned long Addr(const void* p) {
    return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p));
}

void Record(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof(line), format, args);
    va_end(args);

    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(g_module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    char* slash = std::strrchr(path, '\\');
    if (slash == nullptr) return;
    std::strcpy(slash + 1, "core_calls.log");
    FILE* f = std::fopen(path, "a");
    if (f == nullptr) return;
    std::fprintf(f, "%s\n", line);
    std::fclose(f);
}

const char* GuidName(const GUID* iid) {
    if (iid == nullptr) return "null";
    if (IsEqualGUID(*iid, IID_IORVEXApp)) return "App";
    if (IsEqualGUID(*iid, IID_IORVEXDx8)) return "Dx8";
    if (IsEqualGUID(*iid, IID_IORVEXDx9)) return "Dx9";
    return "other";
}

void RecordAppInfo(const char* what, const AppInfo* info) {
    if (info == nullptr) {
        Record("%s info=null", what);
        return;
    }
    Record("%s info=%08lx cbSize=%u game=%d text1=%s text2=%s dx=%u reserved=%u area=%d group=%d",
           what, Addr(info), info->cbSize, info->nGameId, Narrow(info->pwszText1).c_str(),
           Narrow(info->pwszText2).c_str(), info->nDxVersion, info->nReserved, info->nAreaId,
           info->nGroupId);
}

class TestApp : public IORVEXApp {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override {
        Record("App.QueryInterface");
        return 0x51;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        Record("App.AddRef");
        return 0x52;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        Record("App.Release");
        return 0x53;
    }
    void STDMETHODCALLTYPE ModifyAppInfo(AppInfo* info) override {
        RecordAppInfo("App.ModifyAppInfo", info);
    }
    void STDMETHODCALLTYPE Login(LoginInfo* info) override {
        if (info == nullptr) {
            Record("App.Login info=null");
            return;
        }
        Record("App.Login info=%08lx cbSize=%u first=%s second=%s", Addr(info), info->cbSize,
               Narrow(info->pwszFirst).c_str(), Narrow(info->pwszSecond).c_str());
    }
    void STDMETHODCALLTYPE Logout() override { Record("App.Logout"); }
    UINT32 STDMETHODCALLTYPE GetLoginState() override {
        Record("App.GetLoginState");
        return 42;
    }
    UINT32 STDMETHODCALLTYPE OnWindowProc(UINT32 a, UINT32 b, UINT32 c, UINT32 d,
                                          UINT32 e) override {
        Record("App.OnWindowProc %u %u %u %u %u", a, b, c, d, e);
        return 77;
    }
    UINT32 STDMETHODCALLTYPE HasUI(UINT32 value) override {
        Record("App.HasUI %u", value);
        return value + 100;
    }
    void STDMETHODCALLTYPE Show(UINT32 value) override { Record("App.Show %u", value); }
    void STDMETHODCALLTYPE MoveTo(UINT32 value) override { Record("App.MoveTo %u", value); }
};

template <typename Interface, typename Device, typename Params>
class TestRender : public Interface {
  public:
    explicit TestRender(const char* name) : name_(name) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override {
        Record("%s.QueryInterface", name_);
        return 0;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        Record("%s.AddRef", name_);
        return 0;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        Record("%s.Release", name_);
        return 0;
    }
    UINT32 STDMETHODCALLTYPE Initialize(Device* device, Params* params, bool flag) override {
        Record("%s.Initialize device=%08lx params=%08lx p0=%u plast=%u flag=%d", name_,
               Addr(device), Addr(params), params ? params->fields[0] : 0,
               params ? params->fields[sizeof(Params) / 4 - 1] : 0, flag ? 1 : 0);
        return 5;
    }
    UINT32 STDMETHODCALLTYPE Render() override {
#ifndef TEST_CORE_SILENT_RENDER  // the benchmarks' core: a render call costs nothing
        Record("%s.Render", name_);
#endif
        return 9;
    }
    UINT32 STDMETHODCALLTYPE RenderEx() override {
        Record("%s.RenderEx", name_);
        return 9;
    }
    UINT32 STDMETHODCALLTYPE Finalize() override {
        Record("%s.Finalize", name_);
        return 6;
    }
    void STDMETHODCALLTYPE OnDeviceReset(Params* params) override {
        Record("%s.OnDeviceReset params=%08lx p0=%u", name_, Addr(params),
               params ? params->fields[0] : 0);
    }
    void STDMETHODCALLTYPE OnDeviceLost() override { Record("%s.OnDeviceLost", name_); }

  private:
    const char* name_;
};

TestApp g_app;
TestRender<IORVEXDx8, IDirect3DDevice8, OrvexPresentParams8> g_dx8("Dx8");
TestRender<IORVEXDx9, IDirect3DDevice9, OrvexPresentParams9> g_dx9("Dx9");

// What this load found installed: "data\level.dat" beside the module, copied into a file
// of this process's own ("seen-<pid>.txt" in the working directory), so games loading at
// once never share a file.
void RecordSeenInstallation() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(g_module, path, MAX_PATH);
    char* slash = n == 0 || n >= MAX_PATH ? nullptr : std::strrchr(path, '\\');
    if (slash == nullptr || (slash - path) + 16 >= MAX_PATH) return;
    std::strcpy(slash + 1, "data\\level.dat");
    char text[256] = {};
    if (FILE* in = std::fopen(path, "rb")) {
        size_t got = std::fread(text, 1, sizeof(text) - 1, in);
        text[got] = '\0';
        std::fclose(in);
    }
    char name[32];
    std::snprintf(name, sizeof(name), "seen-%lu.txt", GetCurrentProcessId());
    if (FILE* out = std::fopen(name, "wb")) {
        std::fputs(text, out);
        std::fclose(out);
    }
}

// Which installation this load came from: the digest of the tree beside the module.
void RecordTree() {
    char wanted[4] = {};
    if (GetEnvironmentVariableA("ORVEX_TEST_CORE_TREE", wanted, sizeof(wanted)) != 1 ||
        wanted[0] != '1')
        return;
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    std::wstring dir(path, n);
    dir.erase(dir.find_last_of(L'\\'));
    Record("tree=%s", TreeDigestText(dir).c_str());
}

}  // namespace

extern "C" {

UINT32 WINAPI OrvexInitialize(UINT32 hostHandle, AppInfo* info) {
    RecordSeenInstallation();
    char what[64];
    std::snprintf(what, sizeof(what), "OrvexInitialize host=%u", hostHandle);
    RecordAppInfo(what, info);
    RecordTree();
#ifdef TEST_CORE_INIT_FAILS
    return 1;
#else
    return 0;
#endif
}

UINT32 WINAPI OrvexGetModule(const GUID* iid, void** out) {
    Record("OrvexGetModule iid=%s out=%s", GuidName(iid),
           (out != nullptr && *out == nullptr) ? "null" : "set");
    if (iid == nullptr || out == nullptr) return 1;
    if (IsEqualGUID(*iid, IID_IORVEXApp)) {
        *out = static_cast<IORVEXApp*>(&g_app);
        return 0;
    }
#ifndef TEST_CORE_NO_RENDER
    if (IsEqualGUID(*iid, IID_IORVEXDx8)) {
        *out = static_cast<IORVEXDx8*>(&g_dx8);
        return 0;
    }
    if (IsEqualGUID(*iid, IID_IORVEXDx9)) {
        *out = static_cast<IORVEXDx9*>(&g_dx9);
        return 0;
    }
#endif
    return 1;
}

void WINAPI OrvexTerminal() { Record("OrvexTerminal"); }

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        Record("DllMain attach");
    } else if (reason == DLL_PROCESS_DETACH) {
        Record("DllMain detach");
    }
    return TRUE;
}
