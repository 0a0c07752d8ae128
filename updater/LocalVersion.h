// The installed core module's version, from "version.bin" beside the bridge library.
#pragma once

#include <string>

#include "installation/VersionRecord.h"

// Replaces UpdaterState::currentVersion with the "conf"/"version" value of "version.bin".
// An unknown version (no file, section, key or value) leaves it empty, appends
// "unknown current_version" to "bx.log" and returns false.
bool GetVersionInfo();

// The "conf"/"version" value of "version.bin", empty when unknown; logs nothing.
std::wstring ReadInstalledVersion();

// Writes version as "conf"/"version" of "version.bin", keeping every other section and key.
// Written as the last step of an install or a patch, so the next run starts from the
// version now installed instead of installing it again. False when it cannot be written.
bool RecordInstalledVersion(const std::wstring& version);
