// Times the updater's download of one URL into a file through the bridge's download request
// (the package's limits): the best of N runs. Prints one line for bench/run.sh:
//   download bytes=<file size> seconds=<best> ok=<1 when every run completed>
// The clock runs around the call only, so the process's start-up is not in the figure.
#include <windows.h>

#include "BenchClock.h"

#include <cstdio>
#include <cstdlib>

#include "http/FileDownload.h"
#include "support/TextConvert.h"
#include "updater/DownloadLimits.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: DownloadBench <url> <file> <runs>\n");
        return 2;
    }
    std::wstring url, file;
    AnsiToWide(argv[1], url);
    AnsiToWide(argv[2], file);
    int runs = std::atoi(argv[3]);
    double best = 1e30;
    bool ok = true;
    for (int i = 0; i < runs && ok; ++i) {
        DWORD error = 0;
        double start = NowSeconds();
        ok = DownloadToFile(url, file, DownloadLimits(DownloadKind::Package), error) ==
             DownloadResult::Complete;
        double seconds = NowSeconds() - start;
        if (seconds < best) best = seconds;
    }
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data);
    unsigned long long bytes =
        (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    std::printf("download bytes=%llu seconds=%.6f ok=%d\n", bytes, best, ok ? 1 : 0);
    return ok ? 0 : 1;
}
