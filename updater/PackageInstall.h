// The full package: "orvex_packet.7z", downloaded beside the bridge and unpacked into the
// installation directory.
#pragma once

#include <string>

// Bridge directory + "\orvex_packet.7z": where the package is downloaded, and where a run
// that ended between download and unpack leaves it. Empty when the directory is unknown.
std::wstring PackageFilePath();

// Sets UpdaterState::installDir to the installation directory when the installed package
// marker (installation directory + "orvex_packet.7z") exists, else clears it. True when found.
bool ProbePackage();

// Unpacks a package left beside the bridge into the installation directory and deletes it.
// Does nothing when installDir is already set; true also when another game is updating.
bool InstallPendingPackage();

// With a signing key: the same, but only for a package whose SHA-256 is the one the manifest
// verified in this run names (UpdaterState::packageSha256); one that differs is deleted and
// logged, so the package is downloaded as usual. A matching one is installed as Install()
// installs it, recording UpdaterState::latestVersion. Without a verified digest the package
// is left alone. True when it was installed.
bool InstallVerifiedPendingPackage();

// Downloads UpdaterState::packageUrl with a "?rand=" query into the package file and
// installs it into the installation directory as one journaled change that also records
// UpdaterState::latestVersion. The download goes through "orvex_packet.7z.download" and is
// continued where an earlier attempt or start left it (see PayloadDownload.h). With
// UpdaterState::packageSha256 set, the download must match it first; one that does not is
// deleted. True when every file was installed.
bool Install();
