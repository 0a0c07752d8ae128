// Small records beside the installation ("version.bin", "serial.bin"): one value under a key
// of section "conf", replaced whole so that a process that dies meanwhile leaves the old
// record readable.
#pragma once

#include <string>

// Longest value read, terminator included; a longer value is cut.
constexpr unsigned kRecordValueChars = 4096;

// The value under key, empty when unknown (no file, section, key or value).
std::wstring ReadRecordValue(const std::wstring& file, const wchar_t* key);

// Records value under key (an empty one removes the key), keeping every other section and
// key. The new record is written beside the old one as file + ".new", flushed, passed to
// beforeReplace (when given; false abandons the write) and moved over the old one. False
// when it could not be written.
bool WriteRecordValue(const std::wstring& file, const wchar_t* key, const std::wstring& value,
                      bool (*beforeReplace)(const wchar_t* file) = nullptr);
