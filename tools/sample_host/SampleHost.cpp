// A sample game: loads OrvexBridge.dll from its working directory, initialises it, logs in,
// hooks a (pretend) Direct3D 9 device and renders frames until the core module is attached,
// then shuts down and shows what the core module received and what the bridge logged.
// Exit code 0 whether or not the core module started; 2 when the bridge cannot be used.
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "Orvex.h"

namespace {

typedef void(WINAPI* PFN_OrvexLogin)(LoginInfo* info);
typedef UINT32(WINAPI* PFN_OrvexGetLoginState)();
typedef UINT32(WINAPI* PFN_OrvexDx9Initialize)(IDirect3DDevice9* device,
                                               OrvexPresentParams9* params, bool flag);
typedef UINT32(WINAPI* PFN_OrvexDx9Render)();
typedef UINT32(WINAPI* PFN_OrvexDx9Finalize)();

// The game renders while its update runs, for at most about ten seconds: long enough for a
// patch on a slow machine, so a run whose manifest keeps the core off still sees it applied.
const int kMaxFrames = 500;
const int kFramesAfterAttach = 3;
const DWORD kFrameMs = 20;

// Flushed at once so the lines interleave correctly with anything else writing to the console.
void Say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::wstring CurrentDirectory() {
    wchar_t dir[MAX_PATH];
    DWORD n = GetCurrentDirectoryW(MAX_PATH, dir);
    if (n == 0 || n >= MAX_PATH) return L".";
    return std::wstring(dir, n);
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += (c > 0 && c < 128) ? static_cast<char>(c) : '?';
    return out;
}

template <typename T>
T Resolve(HMODULE module, const char* name) {
    FARPROC proc = GetProcAddress(module, name);
    if (proc == nullptr) return nullptr;
    return reinterpret_cast<T>(reinterpret_cast<void*>(proc));
}

void PrintFile(const char* title, const wchar_t* path) {
    FILE* f = _wfopen(path, L"r");
    if (f == nullptr) {
        Say("%s: (not present)", title);
        return;
    }
    Say("%s:", title);
    char line[4096];
    while (std::fgets(line, sizeof(line), f) != nullptr) {
        size_t n = std::strlen(line);
        while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
        Say("    %s", line);
    }
    std::fclose(f);
}

}  // namespace

int main() {
    // By full path: a bare name would pick up a copy beside this program first.
    const std::wstring dir = CurrentDirectory();
    const std::wstring bridgePath = dir + L"\\OrvexBridge.dll";
    Say("sample game: loading %s", Narrow(bridgePath).c_str());
    HMODULE bridge = LoadLibraryW(bridgePath.c_str());
    if (bridge == nullptr) {
        Say("sample game: cannot load the bridge (error %lu)", GetLastError());
        return 2;
    }

    auto initialize = Resolve<PFN_OrvexInitialize>(bridge, "OrvexInitialize");
    auto terminal = Resolve<PFN_OrvexTerminal>(bridge, "OrvexTerminal");
    auto login = Resolve<PFN_OrvexLogin>(bridge, "OrvexLogin");
    auto loginState = Resolve<PFN_OrvexGetLoginState>(bridge, "OrvexGetLoginState");
    auto dx9Initialize = Resolve<PFN_OrvexDx9Initialize>(bridge, "OrvexDx9Initialize");
    auto dx9Render = Resolve<PFN_OrvexDx9Render>(bridge, "OrvexDx9Render");
    auto dx9Finalize = Resolve<PFN_OrvexDx9Finalize>(bridge, "OrvexDx9Finalize");
    if (!initialize || !terminal || !login || !loginState || !dx9Initialize || !dx9Render ||
        !dx9Finalize) {
        Say("sample game: the bridge lacks an expected export");
        return 3;
    }

    // The records stay alive for the whole run, as a real game's would.
    static const wchar_t kTitle[] = L"Sample Game";
    static const wchar_t kVersion[] = L"1.0";
    AppInfo appInfo = {};
    appInfo.cbSize = 32;  // the record's size on the 32-bit platform, whatever this build is
    appInfo.nGameId = 7;
    appInfo.pwszText1 = kTitle;
    appInfo.pwszText2 = kVersion;
    appInfo.nDxVersion = 9;
    appInfo.nAreaId = 30;
    appInfo.nGroupId = 2;
    UINT32 result = initialize(0x1234, &appInfo);
    Say("OrvexInitialize(host=0x1234, game=7, area=30, group=2, dx=9) -> %u", result);

    static const wchar_t kUser[] = L"player";
    static const wchar_t kToken[] = L"token";
    LoginInfo loginInfo = {12, kUser, kToken};
    login(&loginInfo);
    Say("OrvexLogin(player)");

    // No real Direct3D here: the bridge only keeps the device and hands it on.
    IDirect3DDevice9* device = reinterpret_cast<IDirect3DDevice9*>(static_cast<uintptr_t>(0xD9D9));
    OrvexPresentParams9 params = {};
    result = dx9Initialize(device, &params, false);
    Say("OrvexDx9Initialize(device=0xD9D9) -> %u", result);

    int attachedAt = 0;
    int frames = 0;
    for (; frames < kMaxFrames; ++frames) {
        dx9Render();
        if (attachedAt == 0 && loginState() != 0) attachedAt = frames + 1;
        if (attachedAt != 0 && frames + 1 >= attachedAt + kFramesAfterAttach) {
            ++frames;
            break;
        }
        Sleep(kFrameMs);
    }
    Say("rendered %d frames", frames);
    if (attachedAt != 0) {
        Say("core module attached after %d frames", attachedAt);
    } else {
        Say("core module did not start (update gate shut or no core module)");
    }

    dx9Finalize();
    terminal();
    Say("OrvexDx9Finalize, OrvexTerminal");

    PrintFile("core module calls (bin\\core_calls.log)", (dir + L"\\bin\\core_calls.log").c_str());
    PrintFile("game_info.log", L"game_info.log");
    PrintFile("bx.log", L"bx.log");
    return 0;
}
