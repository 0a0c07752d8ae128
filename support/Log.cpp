#include "support/Log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

void WriteLog(const char* path, const char* mode, const char* format, ...) {
    char line[kMaxLogLine + 1];
    std::memset(line, 0, sizeof(line));
    va_list args;
    va_start(args, format);
    // vsnprintf cuts at the buffer and always terminates.
    std::vsnprintf(line, sizeof(line), format, args);
    va_end(args);

    FILE* file = std::fopen(path, mode);
    if (file == nullptr) return;
    std::fputs(line, file);  // data, not a second format
    std::fclose(file);
}
