// The record of a change to an installation that is under way. It is written and flushed
// before the first change to the installation, and removed only once the change is complete
// and the version record names the new version, or once a rollback has put back everything
// it lists. A journal found at the start of a run therefore means the installation may be
// half changed: the run finishes or undoes the change before anything loads from it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct JournalEntry {
    std::wstring name;      // relative to the installation directory, no leading separator
    bool replaced = false;  // an installed file existed (and is in the backups)
    DWORD attributes = 0;   // its attribute word then
};

struct Journal {
    std::wstring operation;    // "install" or "patch"
    std::wstring fromVersion;  // the version record before the change ("" for none)
    std::wstring toVersion;    // the version the change records ("" when it records none)
    std::vector<std::wstring> createdDirs;  // relative, shallowest first; "" is the
                                            // installation directory itself
    std::vector<JournalEntry> entries;
};

// Writes the journal beside the path, flushes it and moves it into place. False when it
// could not be written whole; nothing is left at the path then.
bool WriteJournal(const std::wstring& path, const Journal& journal);

// Reads a journal written by WriteJournal. False when there is none, or it is not whole.
bool ReadJournal(const std::wstring& path, Journal& journal);

bool JournalExists(const std::wstring& path);
