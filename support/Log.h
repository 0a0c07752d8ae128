// Append-only text logs ("bx.log", "game_info.log") in the process's current directory.
#pragma once

// Longest formatted line; longer output is cut.
constexpr int kMaxLogLine = 2047;

// Formats one line (printf-style) and appends it to the named file, opened for this
// line only. A file that cannot be opened drops the line silently.
void WriteLog(const char* path, const char* mode, const char* format, ...);
