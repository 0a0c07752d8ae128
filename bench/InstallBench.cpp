// Times one Install() of the package at the URL given: the download to orvex_packet.7z beside
// this program's own exe and the unpacking into the bin\ directory there. Run a copy of the
// program in a scratch directory. Prints one line for bench/run.sh:
//   install seconds=<time of the call> ok=<1 when Install returned true, else 0>
// The clock runs around the call only, so the process's start-up is not in the figure.
#include <windows.h>

#include "BenchClock.h"

#include <cstdio>

#include "support/TextConvert.h"
#include "updater/PackageInstall.h"
#include "updater/UpdaterState.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: InstallBench <package url>\n");
        return 2;
    }
    UpdaterState& state = TheUpdaterState();
    state.Clear();
    AnsiToWide(argv[1], state.packageUrl);

    double start = NowSeconds();
    bool ok = Install();
    double seconds = NowSeconds() - start;
    std::printf("install seconds=%.6f ok=%d\n", seconds, ok ? 1 : 0);
    return ok ? 0 : 1;
}
