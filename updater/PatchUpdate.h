// The patch update: a 7z archive of changed files, downloaded beside the installation and
// installed over it as one unit (see installation/InstallChange.h).
#pragma once

#include <string>

// Downloads url with a "?tick=" query into <installation>\..\patch\patch.7z (through
// "patch.7z.download", continued across attempts and starts; see PayloadDownload.h) and applies it
// to the installation (UpdaterState::installDir, else the default one). A non-empty sha256
// must match the download first, or nothing is unpacked. A non-empty toVersion is recorded
// as part of the change. The patch file is deleted afterwards. True only when every file of
// the patch was installed. Never throws.
bool update(std::wstring url, std::string sha256 = std::string(),
            std::wstring toVersion = std::wstring());

// Where patches are downloaded, beside the installation: with the usual "<bridge>\bin\" it
// is "<bridge>\bin\..\patch". installDir is not empty.
std::wstring PatchDirectory(std::wstring installDir);

// Unpacks the archive into the installation's staging tree and installs it over installDir
// (empty: the default installation), backing up what it replaces and restoring it when any
// copy fails. Records no version. True when every file was installed. Never throws.
bool ApplyPatch(const std::wstring& archivePath, const std::wstring& installDir);
