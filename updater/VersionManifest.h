// The version manifest: which version is current for this game, area and group, where the
// archive is, and whether the core module may start.
#pragma once

class TiXmlElement;

// Fetches the manifest and stores the selected values in the updater state (latestVersion,
// packageUrl, patchUrl, their sha256, startFlag). False after three failed attempts, or when
// the selection is refused; the state is then left as it was.
bool GetUpdateInfo();

// The selection on a parsed manifest's "root" element: stores the values of the last
// matching area of the first matching game, over that game, over the root. With a signing
// key built in, a selection without a well-formed "sha256" is refused: logged, nothing
// stored, false. Otherwise true.
bool SelectUpdateInfo(const TiXmlElement& root);
