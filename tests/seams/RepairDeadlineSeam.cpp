// Takes the place of updater/RepairDeadline.cpp in test programs: a test shortens the repair
// pass deadline through ORVEX_SEAM_REPAIR_DEADLINE_MS; unset, the built-in value holds.
#include <windows.h>

#include <cwchar>

#include "updater/RepairDeadline.h"

DWORD RepairPassDeadlineMs() {
    wchar_t text[16] = {};
    DWORD length = GetEnvironmentVariableW(L"ORVEX_SEAM_REPAIR_DEADLINE_MS", text, 16);
    if (length == 0 || length >= 16) return kRepairPassDeadlineMs;
    return static_cast<DWORD>(std::wcstoul(text, nullptr, 10));
}
