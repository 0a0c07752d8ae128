// Times one package or one patch of many small files, to show the time per file stays flat
// as the count grows. Prints one line for bench/run.sh:
//   growth kind=<package|patch> files=<n> seconds=<best of runs> per_file_us=<...>
//   GrowthBench package <archive> <scratch dir> <files> <runs>
//     ExtractArchive into a fresh <scratch>\<run> each time.
//   GrowthBench patch <patch> <package> <scratch dir> <files> <runs>
//     ApplyPatch over an installation unpacked from the package before each run.
#include <windows.h>

#include "BenchClock.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "archive/ExtractArchive.h"
#include "support/PathUtils.h"
#include "support/TextConvert.h"
#include "updater/PatchUpdate.h"

namespace {

std::wstring Wide(const char* text) {
    std::wstring wide;
    AnsiToWide(text, wide);
    return wide;
}

void Report(const char* kind, int files, double best) {
    std::printf("growth kind=%s files=%d seconds=%.6f per_file_us=%.2f\n", kind, files, best,
                best * 1e6 / files);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string kind = argc > 1 ? argv[1] : "";
    double best = 1e30;
    if (kind == "package" && argc == 6) {
        std::wstring archive = Wide(argv[2]), scratch = Wide(argv[3]);
        int files = std::atoi(argv[4]), runs = std::atoi(argv[5]);
        for (int run = 0; run < runs; ++run) {
            std::wstring dest = scratch + L"\\" + std::to_wstring(run);
            CreateDirectoryPath(dest.c_str());
            double start = NowSeconds();
            bool ok = ExtractArchive(archive.c_str(), dest.c_str());
            double seconds = NowSeconds() - start;
            if (!ok) return 1;
            if (seconds < best) best = seconds;
        }
        Report("package", files, best);
        return 0;
    }
    if (kind == "patch" && argc == 7) {
        std::wstring patch = Wide(argv[2]), package = Wide(argv[3]), scratch = Wide(argv[4]);
        int files = std::atoi(argv[5]), runs = std::atoi(argv[6]);
        for (int run = 0; run < runs; ++run) {
            std::wstring install = scratch + L"\\install" + std::to_wstring(run);
            CreateDirectoryPath(install.c_str());
            if (!ExtractArchive(package.c_str(), install.c_str())) return 1;
            double start = NowSeconds();
            bool ok = ApplyPatch(patch, install);
            double seconds = NowSeconds() - start;
            if (!ok) return 1;
            if (seconds < best) best = seconds;
        }
        Report("patch", files, best);
        return 0;
    }
    std::fprintf(stderr,
                 "usage: GrowthBench package <archive> <scratch> <files> <runs>\n"
                 "       GrowthBench patch <patch> <package> <scratch> <files> <runs>\n");
    return 2;
}
