// The number of handles this process holds, for leak checks around many calls.
#pragma once

#include <windows.h>

#include <vector>

#include "support/ScopedHandle.h"

// Counted in the system's handle table, because wine answers GetProcessHandleCount with 0.
// 0 when the table cannot be read.
inline size_t ProcessHandleCount() {
    struct Entry {  // SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX
        void* object;
        ULONG_PTR process;
        ULONG_PTR handle;
        ULONG access;
        USHORT backTrace;
        USHORT type;
        ULONG attributes;
        ULONG reserved;
    };
    struct Table {
        ULONG_PTR count;
        ULONG_PTR reserved;
        Entry entries[1];
    };
    using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    constexpr ULONG kExtendedHandleInformation = 64;
    constexpr LONG kLengthMismatch = static_cast<LONG>(0xC0000004);
    auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) return 0;
    std::vector<ULONG_PTR> buffer(8192);
    for (;;) {
        ULONG bytes = static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR));
        ULONG needed = 0;
        LONG status = query(kExtendedHandleInformation, buffer.data(), bytes, &needed);
        if (status == kLengthMismatch) {
            buffer.resize(buffer.size() * 2 + needed / sizeof(ULONG_PTR));
            continue;
        }
        if (status != 0) return 0;
        break;
    }
    const Table* table = reinterpret_cast<const Table*>(buffer.data());
    size_t mine = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i) {
        if (table->entries[i].process == GetCurrentProcessId()) ++mine;
    }
    return mine;
}

// Whether the count follows one more open handle, so that comparing counts can fail.
inline bool HandleCountFollowsHandles() {
    size_t before = ProcessHandleCount();
    size_t during = 0;
    {
        ScopedKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!event) return false;
        during = ProcessHandleCount();
    }
    return during == before + 1 && ProcessHandleCount() == before;
}
