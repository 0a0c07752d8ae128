// Names that come from the network (check-list entries, archive entries, patch file lists)
// and are joined onto an installation directory.
#pragma once

#include <string>

// True when name is a relative path that stays inside the directory it is joined onto:
// not empty, not absolute, no drive, no ':' (which would also open an alternate data
// stream), no UNC prefix, no ".." step that climbs above the start, no component that
// the file system would read as ".." or as a device (CON, NUL, COM1, ...), no character
// that is invalid in a file name, and not ending in a separator (that names a directory).
// "\" and "/" both separate components.
bool IsContainedRelativePath(const std::wstring& name);
