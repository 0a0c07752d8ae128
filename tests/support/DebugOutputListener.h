// Collects the debugger messages (OutputDebugStringA) of other processes through the
// system's shared debug-output buffer, as a debug monitor would.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class DebugOutputListener {
  public:
    DebugOutputListener();
    ~DebugOutputListener();
    DebugOutputListener(const DebugOutputListener&) = delete;
    DebugOutputListener& operator=(const DebugOutputListener&) = delete;

    bool Ready() const { return ready_; }
    // Messages received so far from the given process.
    std::vector<std::string> From(DWORD processId);
    // Waits until every message sent before the call has been received: messages are
    // taken one at a time, so once one of this process's own has come, all earlier ones
    // have. False when timeoutMs passed first.
    bool Drain(DWORD timeoutMs);

  private:
    void Listen();

    HANDLE bufferReady_ = nullptr;
    HANDLE dataReady_ = nullptr;
    HANDLE mapping_ = nullptr;
    const char* view_ = nullptr;
    bool ready_ = false;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<std::pair<DWORD, std::string>> messages_;
    std::thread thread_;
};
