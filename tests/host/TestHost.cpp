// A game stand-in for tests: loads OrvexBridge.dll from its working directory in its own
// process and runs the commands given on its command line, writing one result line per
// command to the output file named first.
//   TestHost.exe <output file> <command> [<command> ...]
// A command is a word and its arguments joined by ':' (for example "init:1234:7:9:30:2").
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Orvex.h"

namespace {

FILE* g_out = nullptr;
HMODULE g_bridge = nullptr;

void Out(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(g_out, format, args);
    va_end(args);
    std::fputc('\n', g_out);
    std::fflush(g_out);
}

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return parts;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// "null" stands for a null text pointer.
const wchar_t* TextArg(const std::wstring& text) {
    return text == L"null" ? nullptr : text.c_str();
}

long Num(const std::vector<std::string>& args, size_t index, long fallback = 0) {
    return index < args.size() ? std::strtol(args[index].c_str(), nullptr, 0) : fallback;
}

template <typename T>
T Proc(const char* name) {
    FARPROC proc = GetProcAddress(g_bridge, name);
    if (proc == nullptr) {
        Out("missing export %s", name);
        std::exit(3);
    }
    return reinterpret_cast<T>(reinterpret_cast<void*>(proc));
}

const GUID* GuidArg(const std::string& name) {
    static const GUID other = {0x12345678, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
    if (name == "app") return &IID_IORVEXApp;
    if (name == "dx8") return &IID_IORVEXDx8;
    if (name == "dx9") return &IID_IORVEXDx9;
    return &other;
}

// Records and texts the bridge may keep pointers to stay alive for the whole run.
std::vector<std::wstring> g_texts;
AppInfo g_appInfo[8];
int g_appInfoUsed = 0;
LoginInfo g_loginInfo[8];
int g_loginUsed = 0;

const wchar_t* Keep(const std::string& text) {
    g_texts.reserve(64);
    g_texts.push_back(Wide(text));
    return TextArg(g_texts.back());
}

AppInfo* MakeAppInfo(const std::vector<std::string>& a, size_t first) {
    AppInfo* info = &g_appInfo[g_appInfoUsed++ % 8];
    info->cbSize = 32;  // the 32-bit record size, whatever this build's pointers are
    info->nGameId = static_cast<INT32>(Num(a, first));
    info->nDxVersion = static_cast<UINT32>(Num(a, first + 1, 9));
    info->nAreaId = static_cast<INT32>(Num(a, first + 2));
    info->nGroupId = static_cast<INT32>(Num(a, first + 3));
    info->pwszText1 = Keep(first + 4 < a.size() ? a[first + 4] : "first");
    info->pwszText2 = Keep(first + 5 < a.size() ? a[first + 5] : "second");
    info->nReserved = 0xDEADBEEF;  // the bridge must never pass this on
    return info;
}

// "failalloc:<bytes>" points the bridge's imported malloc at one that refuses blocks of that
// size or more, as when the game's address space is too full for them; "okalloc" restores
// it. Small blocks still succeed: the runtime's own thread data needs them to throw at all.
void* (*g_realMalloc)(size_t) = nullptr;
size_t g_failFrom = 0;
void* FailingMalloc(size_t size) { return size >= g_failFrom ? nullptr : g_realMalloc(size); }

// The bridge's import slot for msvcrt.dll's malloc, or null.
void** MallocSlot() {
    auto base = reinterpret_cast<BYTE*>(g_bridge);
    auto dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto imports = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
    for (; imports->Name != 0; ++imports) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + imports->Name), "msvcrt.dll") != 0) continue;
        auto names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imports->OriginalFirstThunk);
        auto slots = reinterpret_cast<void**>(base + imports->FirstThunk);
        for (int i = 0; names[i].u1.AddressOfData != 0; ++i) {
            if (IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal)) continue;
            auto byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names[i].u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<char*>(byName->Name), "malloc") == 0) return &slots[i];
        }
    }
    return nullptr;
}

bool SetMallocSlot(void* value) {
    void** slot = MallocSlot();
    DWORD old = 0;
    if (slot == nullptr || !VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &old)) return false;
    *slot = value;
    VirtualProtect(slot, sizeof(void*), old, &old);
    return true;
}

unsigned long Addr(const void* p) {
    return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p));
}

// Renders until the core answers the login-state query (42 from the test core).
void WaitCore(const std::string& dx, long timeoutMs) {
    auto render = Proc<UINT32(WINAPI*)()>(dx == "dx8" ? "OrvexDx8Render" : "OrvexDx9Render");
    auto state = Proc<UINT32(WINAPI*)()>("OrvexGetLoginState");
    DWORD start = GetTickCount();
    int renders = 0;
    while (GetTickCount() - start < static_cast<DWORD>(timeoutMs)) {
        render();
        ++renders;
        if (state() != 0) {
            Out("waitcore loaded");
            return;
        }
        Sleep(20);
    }
    Out("waitcore absent");
}

// Does the file (relative to the working directory) have at least `lines` lines? 0: does
// it exist at all?
bool HasLines(const std::string& file, long lines) {
    FILE* f = std::fopen(file.c_str(), "rb");
    if (f == nullptr) return false;
    long count = 0;
    for (int c; count < lines && (c = std::fgetc(f)) != EOF;) count += c == '\n';
    std::fclose(f);
    return count >= lines;
}

// Waits (rendering every 20 ms, when a render export is given) until the file has the lines:
// how a test waits for what the updater or the core does, on a machine of any speed.
bool AwaitLines(const std::string& dx, const std::string& file, long lines, long timeoutMs) {
    UINT32(WINAPI * render)() = nullptr;
    if (!dx.empty())
        render = Proc<UINT32(WINAPI*)()>(dx == "dx8" ? "OrvexDx8Render" : "OrvexDx9Render");
    DWORD start = GetTickCount();
    for (;;) {
        if (render != nullptr) render();
        if (HasLines(file, lines)) return true;
        if (GetTickCount() - start >= static_cast<DWORD>(timeoutMs)) return false;
        Sleep(20);
    }
}

void Run(const std::string& command) {
    std::vector<std::string> a = Split(command);
    const std::string& c = a[0];
    if (c == "load") {
        // By full path: a bare name would find the copy beside this program first.
        wchar_t dir[MAX_PATH];
        DWORD n = GetCurrentDirectoryW(MAX_PATH, dir);
        std::wstring path = std::wstring(dir, n) + L"\\OrvexBridge.dll";
        g_bridge = LoadLibraryW(path.c_str());
        Out("load %s", g_bridge ? "ok" : "failed");
        if (!g_bridge) std::exit(2);
    } else if (c == "loaded") {  // is the bridge still mapped in this process?
        Out("loaded %d", GetModuleHandleW(L"OrvexBridge.dll") != nullptr ? 1 : 0);
    } else if (c == "unload") {
        Out("unload %d", FreeLibrary(g_bridge) ? 1 : 0);
        g_bridge = nullptr;
    } else if (c == "init") {  // init:<host>:<game>:<dx>:<area>:<group>[:t1[:t2]]
        AppInfo* info = MakeAppInfo(a, 2);
        UINT32 r =
            Proc<PFN_OrvexInitialize>("OrvexInitialize")(static_cast<UINT32>(Num(a, 1)), info);
        Out("init %u info=%08lx", r, Addr(info));
    } else if (c == "failalloc") {
        void** slot = MallocSlot();
        if (slot != nullptr && g_realMalloc == nullptr)
            g_realMalloc = reinterpret_cast<void* (*)(size_t)>(*slot);
        g_failFrom = static_cast<size_t>(Num(a, 1, 1));
        Out("failalloc %d", SetMallocSlot(reinterpret_cast<void*>(FailingMalloc)) ? 1 : 0);
    } else if (c == "okalloc") {
        Out("okalloc %d", g_realMalloc && SetMallocSlot(reinterpret_cast<void*>(g_realMalloc)));
    } else if (c == "initnull") {
        Out("init %u", Proc<PFN_OrvexInitialize>("OrvexInitialize")(1234, nullptr));
    } else if (c == "terminal") {
        Proc<PFN_OrvexTerminal>("OrvexTerminal")();
        Out("terminal");
    } else if (c == "getmodule") {  // getmodule:<app|dx8|dx9|other>
        void* out = reinterpret_cast<void*>(0x1);
        UINT32 r = Proc<PFN_OrvexGetModule>("OrvexGetModule")(GuidArg(a[1]), &out);
        Out("getmodule %s %u obj=%08lx", a[1].c_str(), r, Addr(out));
        if (r == 0) {  // the object's IUnknown slots
            IUnknown* unknown = static_cast<IUnknown*>(out);
            void* q = reinterpret_cast<void*>(0x1);
            HRESULT qi = unknown->QueryInterface(IID_IORVEXApp, &q);
            ULONG add = unknown->AddRef();
            ULONG rel = unknown->Release();
            Out("unknown %ld %lu %lu untouched=%d", static_cast<long>(qi), add, rel,
                q == reinterpret_cast<void*>(0x1) ? 1 : 0);
        }
    } else if (c == "modify") {  // modify:<game>:<dx>:<area>:<group>[:t1[:t2]]
        AppInfo* info = MakeAppInfo(a, 1);
        Proc<void(WINAPI*)(AppInfo*)>("OrvexModifyAppInfo")(info);
        Out("modify info=%08lx", Addr(info));
    } else if (c == "modifynull") {
        Proc<void(WINAPI*)(AppInfo*)>("OrvexModifyAppInfo")(nullptr);
        Out("modifynull");
    } else if (c == "login") {  // login:<cbSize>:<first>:<second>; "null" for a null text
        LoginInfo* info = &g_loginInfo[g_loginUsed++ % 8];
        info->cbSize = static_cast<UINT32>(Num(a, 1));
        info->pwszFirst = Keep(a.size() > 2 ? a[2] : "");
        info->pwszSecond = Keep(a.size() > 3 ? a[3] : "");
        Proc<void(WINAPI*)(LoginInfo*)>("OrvexLogin")(info);
        Out("login info=%08lx", Addr(info));
    } else if (c == "loginnull") {
        Proc<void(WINAPI*)(LoginInfo*)>("OrvexLogin")(nullptr);
        Out("loginnull");
    } else if (c == "logout") {
        Proc<void(WINAPI*)()>("OrvexLogout")();
        Out("logout");
    } else if (c == "loginstate") {
        Out("loginstate %u", Proc<UINT32(WINAPI*)()>("OrvexGetLoginState")());
    } else if (c == "winproc") {
        auto f = Proc<UINT32(WINAPI*)(UINT32, UINT32, UINT32, UINT32, UINT32)>("OrvexOnWindowProc");
        Out("winproc %u", f(static_cast<UINT32>(Num(a, 1)), static_cast<UINT32>(Num(a, 2)),
                            static_cast<UINT32>(Num(a, 3)), static_cast<UINT32>(Num(a, 4)),
                            static_cast<UINT32>(Num(a, 5))));
    } else if (c == "hasui") {
        Out("hasui %u",
            Proc<UINT32(WINAPI*)(UINT32)>("OrvexHasUI")(static_cast<UINT32>(Num(a, 1))));
    } else if (c == "show" || c == "moveto") {
        Proc<void(WINAPI*)(UINT32)>(c == "show" ? "OrvexShow"
                                                : "OrvexMoveTo")(static_cast<UINT32>(Num(a, 1)));
        Out("%s", c.c_str());
    } else if (c == "exports") {
        Out("exports showIsMoveTo=%d",
            GetProcAddress(g_bridge, "OrvexShow") == GetProcAddress(g_bridge, "OrvexMoveTo") ? 1
                                                                                             : 0);
    } else if (c == "dx8init" || c == "dx9init") {  // dxNinit:<device>:<p0>:<plast>:<flag>
        bool nine = c == "dx9init";
        OrvexPresentParams9 params = {};
        params.fields[0] = static_cast<UINT32>(Num(a, 2));
        // The record's last word, in this build's layout of that Direct3D version's record.
        const size_t bytes = nine ? sizeof(OrvexPresentParams9) : sizeof(OrvexPresentParams8);
        params.fields[bytes / sizeof(UINT32) - 1] = static_cast<UINT32>(Num(a, 3));
        void* device = reinterpret_cast<void*>(static_cast<uintptr_t>(Num(a, 1)));
        UINT32 r = nine ? Proc<UINT32(WINAPI*)(IDirect3DDevice9*, OrvexPresentParams9*, bool)>(
                              "OrvexDx9Initialize")(static_cast<IDirect3DDevice9*>(device), &params,
                                                    Num(a, 4) != 0)
                        : Proc<UINT32(WINAPI*)(IDirect3DDevice8*, OrvexPresentParams8*, bool)>(
                              "OrvexDx8Initialize")(static_cast<IDirect3DDevice8*>(device),
                                                    reinterpret_cast<OrvexPresentParams8*>(&params),
                                                    Num(a, 4) != 0);
        params.fields[0] = 0xBAD;  // the bridge must have copied, not kept, the caller's record
        Out("%s %u", c.c_str(), r);
    } else if (c == "dx8reset" || c == "dx9reset") {  // dxNreset:<p0>
        OrvexPresentParams9 params = {};
        params.fields[0] = static_cast<UINT32>(Num(a, 1));
        std::string name = c == "dx8reset" ? "OrvexDx8OnDeviceReset" : "OrvexDx9OnDeviceReset";
        Proc<void(WINAPI*)(void*)>(name.c_str())(&params);
        Out("%s", c.c_str());
    } else if (c.size() > 3 && (c.compare(0, 3, "dx8") == 0 || c.compare(0, 3, "dx9") == 0)) {
        // dx8render, dx9renderex, dx9finalize, dx8lost ...
        std::string version = c.substr(2, 1);
        std::string op = c.substr(3);
        std::string name = "OrvexDx" + version;
        if (op == "render")
            name += "Render";
        else if (op == "renderex")
            name += "RenderEx";
        else if (op == "finalize")
            name += "Finalize";
        else if (op == "lost")
            name += "OnDeviceLost";
        if (op == "lost") {
            Proc<void(WINAPI*)()>(name.c_str())();
            Out("%s", c.c_str());
        } else {
            Out("%s %u", c.c_str(), Proc<UINT32(WINAPI*)()>(name.c_str())());
        }
    } else if (c == "waitcore") {  // waitcore:<dx8|dx9>:<timeout ms>
        WaitCore(a[1], Num(a, 2, 20000));
    } else if (c == "sleep") {
        Sleep(static_cast<DWORD>(Num(a, 1)));
        Out("sleep");
    } else if (c == "copy") {  // copy:<from>:<to> (relative to the working directory)
        Out("copy %d", CopyFileW(Wide(a[1]).c_str(), Wide(a[2]).c_str(), FALSE) ? 1 : 0);
    } else if (c == "signal") {  // signal:<file>: creates a file another process waits for
        FILE* f = std::fopen(a[1].c_str(), "w");
        if (f) std::fclose(f);
        Out("signal");
    } else if (c == "waitfile") {  // waitfile:<file>:<timeout ms>
        DWORD start = GetTickCount();
        while (GetFileAttributesA(a[1].c_str()) == INVALID_FILE_ATTRIBUTES &&
               GetTickCount() - start < static_cast<DWORD>(Num(a, 2, 20000))) {
            Sleep(10);
        }
        Out("waitfile %d", GetFileAttributesA(a[1].c_str()) != INVALID_FILE_ATTRIBUTES ? 1 : 0);
    } else if (c == "waitlines") {  // waitlines:<file>:<lines>:<timeout ms>
        Out("waitlines %d", AwaitLines("", a[1], Num(a, 2), Num(a, 3, 60000)) ? 1 : 0);
    } else if (c == "renderuntil") {  // renderuntil:<dx8|dx9>:<file>:<lines>:<timeout ms>
        Out("renderuntil %d", AwaitLines(a[1], a[2], Num(a, 3), Num(a, 4, 60000)) ? 1 : 0);
    } else if (c == "waitunloaded") {  // waitunloaded:<timeout ms>: the bridge is unmapped
        DWORD start = GetTickCount();
        while (GetModuleHandleW(L"OrvexBridge.dll") != nullptr &&
               GetTickCount() - start < static_cast<DWORD>(Num(a, 1, 60000))) {
            Sleep(10);
        }
        Out("waitunloaded %d", GetModuleHandleW(L"OrvexBridge.dll") == nullptr ? 1 : 0);
    } else if (c == "hold") {  // hold:<file>: others may read it but not write it, until exit
        HANDLE held = CreateFileW(Wide(a[1]).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        Out("hold %d", held != INVALID_HANDLE_VALUE ? 1 : 0);
    } else if (c == "getenv") {
        Out("getenv %s", std::getenv(a[1].c_str()) ? std::getenv(a[1].c_str()) : "(unset)");
    } else {
        Out("unknown command %s", c.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 1;
    g_out = std::fopen(argv[1], "w");
    if (g_out == nullptr) return 1;
    for (int i = 2; i < argc; ++i) Run(argv[i]);
    std::fclose(g_out);
    return 0;
}
