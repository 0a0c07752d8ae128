// The installed core module's version, from "version.bin" beside the bridge library.
#pragma once

// Longest value read, terminator included; a longer value is cut.
constexpr unsigned kVersionChars = 4096;

// Replaces UpdaterState::currentVersion with the "conf"/"version" value of "version.bin".
// An unknown version (no file, section, key or value) leaves it empty, appends
// "unknown current_version" to "bx.log" and returns false.
bool GetVersionInfo();
