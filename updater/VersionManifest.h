// The version manifest: which version is current for this game, area and group, where the
// archive is, and whether the core module may start.
#pragma once

class TiXmlElement;

// Fetches the manifest and stores the selected values in the updater state (latestVersion,
// packageUrl, patchUrl, startFlag). False after three failed attempts; the state is then
// left as it was.
bool GetUpdateInfo();

// The selection on a parsed manifest's "root" element: stores the values of the last
// matching area of the first matching game, over that game, over the root. Always true.
bool SelectUpdateInfo(const TiXmlElement& root);
