// One file rebuilt from the installed version of it and a zstd frame made against that
// version (the frame refers back into the old bytes as a prefix).
#pragma once

#include <string>

// The decoder's window is never larger than 2^27 bytes (128 MiB), whatever a frame asks for:
// every byte of the window may have to be addressable at once.
constexpr unsigned kMaxPatchWindowLog = 27;

struct ZstdPatchPlan {
    unsigned windowLog = 0;    // the window log announced for the frame
    std::string baseSha256;    // of the base file
    std::string resultSha256;  // of the rebuilt file
    unsigned long long resultSize = 0;
};

// Writes resultPath (created or replaced) from basePath and the one frame that patchPath
// holds. The base is mapped read-only and checked against its digest first; the result is
// decoded into a buffer of exactly resultSize bytes and written only once it matches its
// digest. So the memory used is about the base plus the result. False, with a short reason
// in why, when the base does not match, the frame's window exceeds 2^min(windowLog, 27), its
// recorded content size is not resultSize, the file holds anything but that one frame, the
// decoder fails, the output is not exactly resultSize bytes or not the announced digest,
// memory is short, or the file cannot be written. A failed write may leave resultPath.
bool RebuildFromZstdPatch(const std::wstring& basePath, const std::wstring& patchPath,
                          const std::wstring& resultPath, const ZstdPatchPlan& plan,
                          std::string& why);
