// Times ExtractArchive on one package: the best of N calls, each into a fresh directory
// <root>\1 .. <root>\N, then one more call into <root>\mem that only measures memory. During
// that call a thread samples the process's private bytes every millisecond, because wine
// reports the current figure as the peak. Prints one line for bench/run.sh:
//   extract bytes=<archive bytes> seconds=<best> base_private=<bytes before the memory call>
//     peak_private=<bytes> peak_ws=<bytes>
// The clock runs around the call only, so the process's start-up is not in the figure.
#include <windows.h>

#include "BenchClock.h"
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "archive/ExtractArchive.h"
#include "support/TextConvert.h"

namespace {

PROCESS_MEMORY_COUNTERS Counters() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters;
}

// The highest private-bytes figure seen while it lives.
class PrivateBytesSampler {
  public:
    PrivateBytesSampler() : thread_([this] { Run(); }) {}
    ~PrivateBytesSampler() {
        stop_ = true;
        thread_.join();
    }
    PrivateBytesSampler(const PrivateBytesSampler&) = delete;
    PrivateBytesSampler& operator=(const PrivateBytesSampler&) = delete;

    size_t Peak() const { return peak_; }

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

bool ExtractInto(const std::wstring& archive, const std::wstring& dir) {
    CreateDirectoryW(dir.c_str(), nullptr);
    return ExtractArchive(archive.c_str(), dir.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    int repeats = argc == 4 ? std::atoi(argv[3]) : 0;
    if (repeats < 1) {
        std::fprintf(stderr, "usage: ExtractBench <archive> <output root> <repeats>\n");
        return 2;
    }
    std::wstring archive, root;
    AnsiToWide(argv[1], archive);
    AnsiToWide(argv[2], root);
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(archive.c_str(), GetFileExInfoStandard, &info)) {
        std::fprintf(stderr, "ExtractBench: cannot stat %s\n", argv[1]);
        return 1;
    }
    unsigned long long bytes =
        (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;

    double best = 0;
    for (int i = 1; i <= repeats; ++i) {
        double start = NowSeconds();
        bool ok = ExtractInto(archive, root + L"\\" + std::to_wstring(i));
        double seconds = NowSeconds() - start;
        if (!ok) {
            std::fprintf(stderr, "ExtractBench: run %d failed\n", i);
            return 1;
        }
        if (i == 1 || seconds < best) best = seconds;
    }

    size_t base = 0, sampled = 0;
    {
        PrivateBytesSampler sampler;
        base = Counters().PagefileUsage;
        if (!ExtractInto(archive, root + L"\\mem")) {
            std::fprintf(stderr, "ExtractBench: the memory run failed\n");
            return 1;
        }
        sampled = sampler.Peak();
    }
    PROCESS_MEMORY_COUNTERS counters = Counters();
    size_t peak = std::max<size_t>(sampled, counters.PeakPagefileUsage);
    std::printf("extract bytes=%llu seconds=%.6f base_private=%zu peak_private=%zu peak_ws=%zu\n",
                bytes, best, base, peak, static_cast<size_t>(counters.PeakWorkingSetSize));
    return 0;
}
