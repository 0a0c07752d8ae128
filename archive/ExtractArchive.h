// Unpacking of the update packages and patches.
#pragma once

#include <string>
#include <vector>

// Writes every file entry of the 7z archive at archivePath below destinationRoot, joined as
// root + "\" + the entry's stored name, creating parent directories as needed. Directory
// entries create nothing by themselves. Stops with false at the first entry that fails,
// including a name that would leave the root or a path longer than 259 characters; files
// written before it stay. Logs nothing. When written is given, it receives the stored name
// (relative, "\"-separated) of every file written, in archive order.
bool ExtractArchive(const wchar_t* archivePath, const wchar_t* destinationRoot,
                    std::vector<std::wstring>* written = nullptr);
