// Times the bridge's OrvexDx9Render in one of its states, each in a process of its own
// because the gate's state is process-wide. Run in a game directory that holds
// OrvexBridge.dll, bin\Orvex.dll (the benchmarks' silent core) and, for "forward",
// version.bin with version 1.0. It serves the update port itself.
//   RenderBench empty <dll>  an empty exported function of that DLL (the reference)
//   RenderBench shut         the first instance while its own update is still running
//   RenderBench forward      the core attached; also its Render slot called directly
//   RenderBench later        a later game while another holder keeps the update lock
// Prints one line for bench/run.sh:
//   render mode=<mode> calls=<n> ns_per_call=<best batch> [direct_ns_per_call=<best>]
//     core_loaded=<0|1>
// The server header brings winsock2.h, which must come before windows.h.
#include "support/LoopbackHttpServer.h"

#include <windows.h>

#include "BenchClock.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "Orvex.h"
#include "installation/LockName.h"

namespace {

using RenderFn = UINT32(WINAPI*)();

// Best time per call over five batches of n calls of call().
template <typename Call>
double BestNsPerCall(int n, Call call) {
    double best = 1e30;
    for (int batch = 0; batch < 5; ++batch) {
        double start = NowSeconds();
        for (int i = 0; i < n; ++i) call();
        double ns = (NowSeconds() - start) * 1e9 / n;
        if (ns < best) best = ns;
    }
    return best;
}

HMODULE LoadFromHere(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    DWORD n = GetCurrentDirectoryW(MAX_PATH, dir);
    return LoadLibraryW((std::wstring(dir, n) + L"\\" + name).c_str());
}

FARPROC Export(HMODULE module, const char* name) {
    FARPROC proc = module ? GetProcAddress(module, name) : nullptr;
    if (proc == nullptr) {
        std::fprintf(stderr, "RenderBench: no export %s\n", name);
        std::exit(2);
    }
    return proc;
}

template <typename T>
T As(FARPROC proc) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(proc));
}

// The bridge's update mutex, owned by a thread of its own as another game would own it.
DWORD WINAPI HoldUpdateLock(void* parameter) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, static_cast<const wchar_t*>(parameter));
    Sleep(INFINITE);
    CloseHandle(mutex);
    return 0;
}

bool CoreLoaded() { return GetModuleHandleW(L"Orvex.dll") != nullptr; }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: RenderBench empty <dll> | shut | forward | later\n");
        return 2;
    }
    const std::string mode = argv[1];
    constexpr int kCalls = 1000000;
    if (mode == "empty") {
        if (argc != 3) return 2;
        HMODULE dll = LoadLibraryA(argv[2]);
        auto render = As<RenderFn>(Export(dll, "EmptyRender"));
        std::printf("render mode=empty calls=%d ns_per_call=%.3f core_loaded=0\n", kCalls,
                    BestNsPerCall(kCalls, render));
        return 0;
    }

    // The update server: a manifest that lets the core start, held for a minute unless the
    // mode needs the update to end.
    LoopbackHttpServer server;
    ScriptedResponse manifest = ScriptedResponse::Ok("<root start=\"1\" version=\"1.0\"/>");
    if (mode != "forward") manifest.answerDelayMs = 60000;
    server.SetHandler([&](const ReceivedRequest& request) {
        if (request.target.compare(0, 13, "/version.xml?") == 0) return manifest;
        return ScriptedResponse::WithStatus(404, "Not Found", "");
    });
    if (!server.Start(8008)) {
        std::fprintf(stderr, "RenderBench: port 8008 is taken\n");
        return 2;
    }

    HMODULE bridge = LoadFromHere(L"OrvexBridge.dll");
    auto render = As<RenderFn>(Export(bridge, "OrvexDx9Render"));
    auto state = As<RenderFn>(Export(bridge, "OrvexGetLoginState"));
    if (mode == "later") {
        // The bridge was loaded from the working directory: its installation's lock.
        wchar_t dir[MAX_PATH], name[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, dir);
        if (!InstallationLockName(dir, name)) return 2;
        CloseHandle(CreateThread(nullptr, 0, HoldUpdateLock, name, 0, nullptr));
        HANDLE probe = nullptr;
        for (int i = 0; i < 500 && probe == nullptr; ++i, Sleep(10))
            probe = OpenMutexW(SYNCHRONIZE, FALSE, name);
        if (probe) CloseHandle(probe);
    }
    static wchar_t text1[] = L"bench", text2[] = L"bench";
    AppInfo info = {};
    info.cbSize = 32;
    info.nGameId = 7;
    info.nDxVersion = 9;
    info.nAreaId = 30;
    info.nGroupId = 2;
    info.pwszText1 = text1;
    info.pwszText2 = text2;
    As<PFN_OrvexInitialize>(Export(bridge, "OrvexInitialize"))(1234, &info);

    if (mode == "forward") {
        for (int i = 0; i < 3000 && state() == 0; ++i) {  // up to a minute for the load
            render();
            Sleep(20);
        }
        if (!CoreLoaded()) {
            std::fprintf(stderr, "RenderBench: the core did not load\n");
            return 1;
        }
        void* object = nullptr;
        auto getModule =
            As<PFN_OrvexGetModule>(Export(GetModuleHandleW(L"Orvex.dll"), "OrvexGetModule"));
        if (getModule(&IID_IORVEXDx9, &object) != 0 || object == nullptr) return 1;
        IORVEXDx9* core = static_cast<IORVEXDx9*>(object);
        double bridged = BestNsPerCall(kCalls, render);
        double direct = BestNsPerCall(kCalls, [core] { core->Render(); });
        std::printf(
            "render mode=forward calls=%d ns_per_call=%.3f direct_ns_per_call=%.3f "
            "core_loaded=1\n",
            kCalls, bridged, direct);
        return 0;
    }
    // A later game probes the lock on every call, which costs kernel calls: fewer of them.
    int calls = mode == "later" ? 20000 : kCalls;
    double ns = BestNsPerCall(calls, render);
    std::printf("render mode=%s calls=%d ns_per_call=%.3f core_loaded=%d\n", mode.c_str(), calls,
                ns, CoreLoaded() ? 1 : 0);
    std::fflush(stdout);
    ExitProcess(0);  // the held manifest and the lock holder are not waited for
}
