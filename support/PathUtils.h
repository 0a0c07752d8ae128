// Path and directory helpers shared by the updater and the archive extractor.
// Operations that work in fixed 260-character buffers refuse a path that does not fit
// rather than cut it: a cut path would name a different file or directory.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Directory of the module's file, without a trailing separator. Empty when the platform
// call fails or the full file name does not fit 259 characters.
std::wstring GetModuleDirectory(HMODULE module);

// The text before the rightmost "\" or "/"; a path without a separator comes back whole.
std::wstring GetParentPath(const std::wstring& path);

// True only for an existing entry that is not a directory.
bool FileExists(const wchar_t* path);

// Creates every directory along the path, shallowest first, the last component included.
// Creation failures (already there, drive prefix) are ignored. A path longer than 259
// characters, or 258 when a separator must be appended, creates nothing.
void CreateDirectoryPath(const wchar_t* path);

// Deletes the file or directory tree at the path permanently, read-only entries included,
// without any user interface. A junction or link inside the tree is removed, never followed.
// An entry that cannot be deleted (a file held open) stays and the rest is still deleted.
// True only when nothing is left; false as well for a missing path and for a path longer
// than 259 characters, which the platform's plain calls would not reach either.
bool DeleteDirectoryTree(const wchar_t* path);

// Appends the full path of every file below dir, depth-first: each subdirectory's files
// stand where the subdirectory was met. Directories themselves are not listed.
void CollectFiles(const std::wstring& dir, std::vector<std::wstring>& list);
