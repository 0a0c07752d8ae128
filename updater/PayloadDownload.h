// The download of a package or patch archive: into its partial file, continued across
// failed attempts and later starts where that is provably the same file, and given its final
// name only once it is whole and, with a digest, verified.
#pragma once

#include <windows.h>

#include <string>

#include "updater/DownloadLimits.h"

struct PayloadRequest {
    std::wstring url;           // as the document names it; identifies the file across starts
    const wchar_t* cacheQuery;  // "?rand=" or "?tick=": each request adds it and the tick count
    std::wstring target;        // the final name
    std::string sha256;         // what the file must match; empty when the document gives none
    DownloadKind kind;
    // Logs a failed attempt: the URL requested (with its query) and the reason, never 0.
    void (*logFailure)(const std::wstring& requestUrl, DWORD error);
};

// Up to three attempts, a short pause before each retry, each continuing the partial file
// (see PartialDownload.h). A file that fails its digest is deleted and logged as
// PayloadMatchesDigest does; when it was continued from an earlier attempt it is fetched
// whole once more. True when target holds the whole file. A failed download leaves only a
// partial file that a later start can continue. No session: false at once, nothing logged.
bool DownloadPayload(const PayloadRequest& request);
