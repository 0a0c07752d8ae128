// Times one update of the installation in bin\ beside this program's own exe (run a copy in
// a scratch directory whose bin\ holds the base release): "delta" installs the delta at the
// URL through UpdateByDelta, "patch" the whole-file patch through update(). Both download
// over loopback HTTP, unpack into the work area and install journaled, so the figure is what
// a player waits for. The process's private bytes are sampled during the call. Prints:
//   apply mode=<mode> seconds=<time of the call> ok=<1 when installed> base_private=<bytes>
//     peak_private=<bytes>
#include <windows.h>

#include "BenchClock.h"
#include "PrivateBytes.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "support/TextConvert.h"
#include "updater/DeltaUpdate.h"
#include "updater/PatchUpdate.h"
#include "updater/UpdaterState.h"

int main(int argc, char** argv) {
    if (argc != 6 || (std::strcmp(argv[1], "delta") != 0 && std::strcmp(argv[1], "patch") != 0)) {
        std::fprintf(stderr, "usage: DeltaBench delta|patch <url> <sha256> <from> <to>\n");
        return 2;
    }
    const bool delta = std::strcmp(argv[1], "delta") == 0;
    TheUpdaterState().Clear();
    DeltaOffer offer;
    std::wstring to;
    AnsiToWide(argv[2], offer.url);
    offer.sha256 = argv[3];
    AnsiToWide(argv[4], offer.from);
    AnsiToWide(argv[5], to);

    bool ok = false;
    size_t base = 0, peak = 0;
    double seconds = 0;
    {
        PrivateBytesSampler sampler;
        base = Counters().PagefileUsage;
        const double start = NowSeconds();
        ok = delta ? UpdateByDelta({offer}, offer.from, to) == DeltaResult::Installed
                   : update(offer.url, offer.sha256, to);
        seconds = NowSeconds() - start;
        peak = sampler.Peak();
    }
    std::printf("apply mode=%s seconds=%.6f ok=%d base_private=%zu peak_private=%zu\n", argv[1],
                seconds, ok ? 1 : 0, base, peak);
    return ok ? 0 : 1;
}
