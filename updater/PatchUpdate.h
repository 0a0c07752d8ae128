// The patch update: a 7z archive of changed files, downloaded beside the installation and
// copied over it as one unit (see TreeCopy.h).
#pragma once

#include <string>

// Downloads url with a "?tick=" query into <installation>\..\patch\patch.7z and applies it
// to the installation (UpdaterState::installDir, else the default one). A non-empty sha256
// must match the download first, or nothing is unpacked. The patch file is deleted
// afterwards. True only when every file of the patch was installed. Never throws.
bool update(std::wstring url, std::string sha256 = std::string());

// Unpacks the archive into a staging tree under the temporary directory and copies it over
// installDir (empty: the default installation), backing up what it replaces and restoring
// it when any copy fails. True when every file was installed. Never throws.
bool ApplyPatch(const std::wstring& archivePath, const std::wstring& installDir);
