// The file operations that change an installation, each announced to the change seam
// first. Each reports success as a bool, with the reason in the thread's last-error code.
#pragma once

#include <windows.h>

#include <string>

// Copies from over to (replacing it), as the installation's copy or as a rollback's
// restore. A read-only target is made writable first; the copy takes the source's
// attributes.
bool CopyInstalledFile(const std::wstring& from, const std::wstring& to, bool restore);

// Clears read-only and deletes the file; true also when it was not there.
bool DeleteInstalledFile(const std::wstring& path);

// Moves from over to (replacing it), on one volume, written through.
bool MoveInstalledFile(const std::wstring& from, const std::wstring& to);

bool SetInstalledAttributes(const std::wstring& path, DWORD attributes);
bool CreateInstalledDirectory(const std::wstring& path);
// True also when it was not there; false when it could not be removed (not empty, in use).
bool RemoveInstalledDirectory(const std::wstring& path);
// Removes a whole work tree (staging, backups); true when nothing is left.
bool RemoveWorkTree(const std::wstring& path);
