#include "bridge/CoreLoader.h"

#include <shlwapi.h>

#include <cwchar>
#include <vector>

#include "Orvex.h"
#include "bridge/Globals.h"
#include "bridge/SelfModule.h"
#include "bridge/UpdateGate.h"
#include "bridge/UpdateLock.h"
#include "installation/InstallLayout.h"

namespace {

constexpr size_t kModulePathChars = 292;
const wchar_t kCoreRelativePath[] = L"./bin/Orvex.dll";
const wchar_t kParentStep[] = L"/../";
const wchar_t kSearchDirSuffix[] = L"/../.;";
const wchar_t kJournalName[] = L"/journal";

// The core module stays loaded for the rest of the process once attached, so its handle
// has no owner that would free it at unload; UnloadCore releases it after a failed load.
HMODULE g_coreModule = nullptr;
PFN_OrvexInitialize g_coreInitialize = nullptr;
PFN_OrvexGetModule g_coreGetModule = nullptr;
PFN_OrvexTerminal g_coreTerminal = nullptr;
bool g_neverRetry = false;

struct CountedString {  // the platform's UNICODE_STRING
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
};
typedef LONG(NTAPI* LdrLoadDllFn)(PWSTR searchPath, PULONG characteristics, CountedString* name,
                                  PVOID* handle);
typedef VOID(NTAPI* RtlInitUnicodeStringFn)(CountedString* target, PCWSTR source);

// Appends source to buffer (capacity in characters); false when it would not fit.
bool Append(wchar_t* buffer, size_t capacity, const wchar_t* source) {
    size_t used = std::wcslen(buffer);
    size_t extra = std::wcslen(source);
    if (used + extra + 1 > capacity) return false;
    std::wmemcpy(buffer + used, source, extra + 1);
    return true;
}

// The library's full path, "/../", then relative: names relative beside the library.
bool BuildBesideSelf(wchar_t (&buffer)[kModulePathChars], const wchar_t* relative) {
    std::wmemset(buffer, L'\0', kModulePathChars);
    wchar_t self[kPathChars];
    if (!GetSelfPath(self)) return false;
    return Append(buffer, kModulePathChars, self) &&
           Append(buffer, kModulePathChars, kParentStep) &&
           Append(buffer, kModulePathChars, relative);
}

template <typename T>
T Resolve(HMODULE module, const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

void UnloadCore() {
    if (g_coreModule != nullptr) FreeLibrary(g_coreModule);
    g_coreModule = nullptr;
    g_coreInitialize = nullptr;
    g_coreGetModule = nullptr;
    g_coreTerminal = nullptr;
}

}  // namespace

HMODULE LoadModuleWithSearchPath(const wchar_t* path) {
    if (path == nullptr) return nullptr;
    wchar_t fullPath[kModulePathChars];
    std::wmemset(fullPath, L'\0', kModulePathChars);
    if (PathIsRelativeW(path)) {
        if (!BuildBesideSelf(fullPath, path)) return nullptr;
    } else {
        DWORD length = GetFullPathNameW(path, kPathChars, fullPath, nullptr);
        if (length == 0 || length >= kPathChars) return nullptr;
    }

    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr) return nullptr;
    auto ldrLoadDll = Resolve<LdrLoadDllFn>(ntdll, "LdrLoadDll");
    auto rtlInitUnicodeString = Resolve<RtlInitUnicodeStringFn>(ntdll, "RtlInitUnicodeString");
    if (ldrLoadDll == nullptr || rtlInitUnicodeString == nullptr) return nullptr;

    // Search path: the module's directory first, then the process's own PATH (read only).
    DWORD pathVarChars = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    size_t fullLength = std::wcslen(fullPath);
    size_t suffixLength = std::wcslen(kSearchDirSuffix);
    size_t capacity = fullLength + suffixLength + pathVarChars + 1;
    std::vector<wchar_t> searchPath(capacity, L'\0');
    std::wmemcpy(searchPath.data(), fullPath, fullLength);
    std::wmemcpy(searchPath.data() + fullLength, kSearchDirSuffix, suffixLength);
    if (pathVarChars > 0) {
        DWORD got = GetEnvironmentVariableW(L"PATH", searchPath.data() + fullLength + suffixLength,
                                            pathVarChars);
        if (got >= pathVarChars)
            searchPath[fullLength + suffixLength] = L'\0';  // changed meanwhile
    }

    CountedString name = {};
    rtlInitUnicodeString(&name, fullPath);
    PVOID handle = nullptr;
    ldrLoadDll(searchPath.data(), nullptr, &name, &handle);
    return static_cast<HMODULE>(handle);
}

namespace {

void* TryLoadCoreModule(const GUID& renderIid) {
    if (g_neverRetry) return nullptr;
    if (g_coreModule != nullptr) return nullptr;  // only the first load hands out an interface
    UpdateLock loadLock;  // no updater may change the files while they are loaded
    if (!IsLoadGateOpen(loadLock)) return nullptr;

    // A journal means a change to the installation is unfinished: its files may be a mix of
    // two versions until an update run has finished or undone it.
    wchar_t journalPath[kModulePathChars];
    if (!BuildBesideSelf(journalPath, L"./") ||
        !Append(journalPath, kModulePathChars, kWorkDirName) ||
        !Append(journalPath, kModulePathChars, kJournalName) ||
        GetFileAttributesW(journalPath) != INVALID_FILE_ATTRIBUTES)
        return nullptr;

    wchar_t modulePath[kModulePathChars];
    if (!BuildBesideSelf(modulePath, kCoreRelativePath)) return nullptr;
    if (GetFileAttributesW(modulePath) == INVALID_FILE_ATTRIBUTES) return nullptr;

    g_coreModule = LoadModuleWithSearchPath(modulePath);
    if (g_coreModule == nullptr) {
        OutputDebugStringA("load Orvex failed\n");
        g_neverRetry = true;
        return nullptr;
    }

    g_coreInitialize = Resolve<PFN_OrvexInitialize>(g_coreModule, "OrvexInitialize");
    g_coreGetModule = Resolve<PFN_OrvexGetModule>(g_coreModule, "OrvexGetModule");
    g_coreTerminal = Resolve<PFN_OrvexTerminal>(g_coreModule, "OrvexTerminal");
    if (g_coreInitialize == nullptr || g_coreGetModule == nullptr || g_coreTerminal == nullptr) {
        UnloadCore();
        return nullptr;
    }

    OrvexBridgeApp& app = TheBridgeApp();
    if (g_coreInitialize(app.HostHandle(), app.StoredAppInfo()) == 1) {
        UnloadCore();
        return nullptr;
    }

    void* coreApp = nullptr;
    void* coreRender = nullptr;
    g_coreGetModule(&IID_IORVEXApp, &coreApp);
    g_coreGetModule(&renderIid, &coreRender);
    if (coreApp == nullptr || coreRender == nullptr) {
        UnloadCore();
        return nullptr;
    }
    app.Attach(static_cast<IORVEXApp*>(coreApp));
    // The core keeps the stored record and calls back into this library for the rest of
    // the process: a FreeLibrary by the game must not unmap either.
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&LoadCoreModule), &pinned);
    return coreRender;
}

}  // namespace

void* LoadCoreModule(const GUID& renderIid) {
    // Runs inside the host's render call: nothing may escape into the game.
    try {
        return TryLoadCoreModule(renderIid);
    } catch (...) {
        return nullptr;
    }
}

void CallCoreTerminal() {
    if (g_coreTerminal != nullptr) g_coreTerminal();
}
