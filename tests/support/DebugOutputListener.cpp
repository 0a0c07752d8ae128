#include "support/DebugOutputListener.h"

#include <algorithm>

#include "support/TestPaths.h"

DebugOutputListener::DebugOutputListener() {
    bufferReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
    dataReady_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
    mapping_ =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER");
    if (mapping_ != nullptr)
        view_ = static_cast<const char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 4096));
    ready_ = bufferReady_ && dataReady_ && view_;
    if (ready_) thread_ = std::thread(&DebugOutputListener::Listen, this);
}

DebugOutputListener::~DebugOutputListener() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (view_) UnmapViewOfFile(view_);
    if (mapping_) CloseHandle(mapping_);
    if (dataReady_) CloseHandle(dataReady_);
    if (bufferReady_) CloseHandle(bufferReady_);
}

void DebugOutputListener::Listen() {
    SetEvent(bufferReady_);
    while (!stop_) {
        if (WaitForSingleObject(dataReady_, 50) != WAIT_OBJECT_0) continue;
        DWORD pid = *reinterpret_cast<const DWORD*>(view_);
        std::string text(view_ + sizeof(DWORD), strnlen(view_ + sizeof(DWORD), 4096 - 5));
        {
            std::lock_guard<std::mutex> guard(lock_);
            messages_.emplace_back(pid, text);
        }
        SetEvent(bufferReady_);
    }
}

std::vector<std::string> DebugOutputListener::From(DWORD processId) {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::string> out;
    for (const auto& m : messages_) {
        if (m.first == processId) out.push_back(m.second);
    }
    return out;
}

bool DebugOutputListener::Drain(DWORD timeoutMs) {
    static int drains = 0;
    const std::string marker = "drain " + std::to_string(++drains) + "\n";
    OutputDebugStringA(marker.c_str());
    return WaitUntil(
        [&] {
            std::vector<std::string> own = From(GetCurrentProcessId());
            return std::find(own.begin(), own.end(), marker) != own.end();
        },
        timeoutMs);
}
