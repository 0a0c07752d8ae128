// The process's private bytes, now and at their highest while a sampler lives. The sampler
// reads the figure every millisecond on a thread of its own, because wine reports the current
// figure as the peak.
#pragma once

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <thread>

inline PROCESS_MEMORY_COUNTERS Counters() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters;
}

class PrivateBytesSampler {
  public:
    PrivateBytesSampler() : thread_([this] { Run(); }) {}
    ~PrivateBytesSampler() {
        stop_ = true;
        thread_.join();
    }
    PrivateBytesSampler(const PrivateBytesSampler&) = delete;
    PrivateBytesSampler& operator=(const PrivateBytesSampler&) = delete;

    size_t Peak() const { return std::max<size_t>(peak_, Counters().PeakPagefileUsage); }

  private:
    void Run() {
        while (!stop_) {
            peak_ = std::max<size_t>(peak_, Counters().PagefileUsage);
            Sleep(1);
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<size_t> peak_{0};
    std::thread thread_;  // last: starts once the members it uses exist
};
