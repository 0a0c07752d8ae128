// The installation's version record: section "conf", key "version" of "version.bin".
#pragma once

#include <string>

// The recorded version, empty when unknown (no file, section, key or value).
std::wstring ReadVersionRecord(const std::wstring& versionFile);

// Records version (an empty one removes the key), keeping every other section and key. The
// new record is written beside the old one, flushed and moved over it, so a process that
// dies meanwhile leaves the old record whole. False when it could not be written.
bool WriteVersionRecord(const std::wstring& versionFile, const std::wstring& version);
