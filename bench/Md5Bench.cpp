// Times Md5OfFile on one file: one warm-up call, then the best of N calls. Prints one line
// for bench/run.sh:
//   md5_file bytes=<n> seconds=<best> digest=<hex> host=<wine-version|windows>
// The clock runs around the call only, so the process's start-up is not in the figure.
#include <windows.h>

#include "BenchClock.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/FileDigest.h"
#include "support/TextConvert.h"

int main(int argc, char** argv) {
    int repeats = argc == 3 ? std::atoi(argv[2]) : 0;
    if (repeats < 1) {
        std::fprintf(stderr, "usage: Md5Bench <file> <repeats>\n");
        return 2;
    }
    std::wstring path;
    AnsiToWide(argv[1], path);
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info)) {
        std::fprintf(stderr, "Md5Bench: cannot stat %s\n", argv[1]);
        return 1;
    }
    unsigned long long bytes =
        (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;

    char digest[33];
    if (!Md5OfFile(digest, path.c_str())) {  // warm-up: page cache and first-touch costs
        std::fprintf(stderr, "Md5Bench: no digest for %s\n", argv[1]);
        return 1;
    }
    double best = 0;
    for (int i = 0; i < repeats; ++i) {
        double start = NowSeconds();
        unsigned ok = Md5OfFile(digest, path.c_str());
        double seconds = NowSeconds() - start;
        if (!ok) return 1;
        if (i == 0 || seconds < best) best = seconds;
    }
    std::printf("md5_file bytes=%llu seconds=%.6f digest=%s host=%s\n", bytes, best, digest,
                HostName().c_str());
    return 0;
}
