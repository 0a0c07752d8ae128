// The version manifest: which version is current for this game, area and group, where the
// archive is, and whether the core module may start.
#pragma once

class TiXmlElement;

// Fetches the manifest and stores the selected values in the updater state (latestVersion,
// packageUrl, patchUrl, their sha256, startFlag, the check list's sha256). With a signing key
// built in, a manifest is used only when its signature is good and its serial is not below
// the installation's record (ManifestSerial.h). False after three failed attempts, or when
// the selection is refused; the state is then left as it was.
bool GetUpdateInfo();

// The selection on a parsed manifest's "root" element: stores the values of the last
// matching area of the first matching game, over that game, over the root. With a signing
// key built in, a selection without a well-formed "sha256" is refused: logged, nothing
// stored, false. Otherwise true. The root's "checklist_sha256", when well formed, names the
// only check list a keyed bridge accepts with this manifest. The leading "delta" children (up
// to eight) of the element that set the url in force are stored as delta offers, but only
// when that element also set the version in force; each needs "from" and "url" and, with a
// signing key, "sha256". Children that fail are skipped.
bool SelectUpdateInfo(const TiXmlElement& root);
