// The delta path of a patch update: an archive that holds, for each file the new version
// changes or adds, either a zstd frame made against the installed file or the file whole,
// with an index ("orvex_delta.txt", see DeltaIndex.h). Each file is rebuilt into the
// installation's staging tree and checked, then the set is installed as a patch is
// (installation/InstallChange.h): journaled, rolled back on failure.
#pragma once

#include <string>
#include <vector>

#include "updater/UpdaterState.h"

enum class DeltaResult {
    NotOffered,    // no offer is for the installed version: nothing done, nothing logged
    Installed,     // every file installed and toVersion recorded
    Failed,        // failed before the installation changed: the whole-file patch is next
    ChangeFailed,  // the change itself failed: rolled back, or its journal kept for the next run
};

// Takes the first offer whose "from" is installedVersion. Downloads it with a "?tick=" query
// into <installation>\..\patch\delta.7z (continued across attempts and starts, and checked
// against the offer's sha256 when it has one; see PayloadDownload.h), unpacks it into the work
// area's delta tree, and checks the index: its "from" is installedVersion, its "to" toVersion,
// the archive holds exactly the index and one entry per line. Then every installed base file
// must match its digest, every rebuilt or whole file its size and digest. Any failure before
// the installation changes appends one line "update delta failed (<why>)" to "bx.log" and
// removes the archive and the work area, unless a journal is there; a cut download keeps only
// what a later start can continue. Never throws.
DeltaResult UpdateByDelta(const std::vector<DeltaOffer>& offers,
                          const std::wstring& installedVersion, const std::wstring& toVersion);

// Once the version is installed another way, a delta download left to be continued is of no
// use any more: deletes it.
void DiscardDeltaDownload();
