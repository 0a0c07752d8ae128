// Times ExtractArchive on one package: the best of N calls, each into a fresh directory
// <root>\1 .. <root>\N, then one more call into <root>\mem that only measures memory. During
// that call the process's private bytes are sampled (PrivateBytes.h). Prints one line for
// bench/run.sh:
//   extract bytes=<archive bytes> seconds=<best> base_private=<bytes before the memory call>
//     peak_private=<bytes> peak_ws=<bytes>
// The clock runs around the call only, so the process's start-up is not in the figure.
#include <windows.h>

#include "BenchClock.h"
#include "PrivateBytes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "archive/ExtractArchive.h"
#include "support/TextConvert.h"

namespace {

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
    std::printf("extract bytes=%llu seconds=%.6f base_private=%zu peak_private=%zu peak_ws=%zu\n",
                bytes, best, base, sampled, static_cast<size_t>(Counters().PeakWorkingSetSize));
    return 0;
}
