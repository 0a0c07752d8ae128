// The time-outs of the updater's four kinds of download. The library always uses the built-in
// values; a test that makes a server stall or drip caps them, so that a case ends in seconds
// instead of six minutes.
#pragma once

#include <windows.h>

#include "http/FileDownload.h"

enum class DownloadKind { Document, RepairFile, Package, Patch };

// The settings in force for that kind: the manifest and the check list are documents.
DownloadSettings DownloadLimits(DownloadKind kind);

// Tests only: every time-out and body limit is at most longestMs from now on; 0 restores the
// built-in values. A cap rather than a common factor, so that the 10 s documents keep a limit
// they can meet while the 360 s archives come down to it.
void CapDownloadLimits(DWORD longestMs);
