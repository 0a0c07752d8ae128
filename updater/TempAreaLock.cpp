#include "updater/TempAreaLock.h"

#include <string>

namespace {

// "Local\OrvexBridgeTemp:" and the temporary directory with '/' for '\', which a
// mutex name may not contain; null when the directory is unknown.
HANDLE OpenTempAreaMutex() {
    wchar_t temp[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    std::wstring name = L"Local\\OrvexBridgeTemp:";
    for (DWORD i = 0; i < length; ++i) name += temp[i] == L'\\' ? L'/' : temp[i];
    return CreateMutexW(nullptr, FALSE, name.c_str());
}

}  // namespace

bool TempAreaLock::Acquire(DWORD waitMs) {
    if (owned_) return true;
    if (!mutex_) mutex_.Reset(OpenTempAreaMutex());
    if (!mutex_) return false;
    DWORD wait = WaitForSingleObject(mutex_.Get(), waitMs);
    owned_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    return owned_;
}

void TempAreaLock::Release() {
    if (owned_) {
        ReleaseMutex(mutex_.Get());
        owned_ = false;
    }
    mutex_.Close();
}
