// Copies a staged tree of files over an installation as one unit: every installed file that
// the copy replaces is backed up first, and a failed copy puts the previous installation
// back, so a file in use (a loaded module) leaves the installation as it was.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class TreeCopy {
  public:
    // names: relative names beginning with "\", each already known to stay inside the tree
    // it is joined onto. The three roots are joined with a name by plain concatenation.
    TreeCopy(std::wstring stagingRoot, std::wstring backupRoot, std::wstring installRoot,
             const std::vector<std::wstring>& names);

    // Records each installed file's attributes and backs it up. False when a path does not
    // fit 259 characters or an existing file cannot be backed up (logged); nothing in the
    // installation has changed then.
    bool BackUp();

    // Copies every staged file into the installation, keeping read-only files read-only.
    // On the first failed copy restores the previous installation and returns false.
    // Refused (false, nothing copied) unless BackUp succeeded first.
    bool Install();

  private:
    struct Entry {
        std::wstring name;
        bool installed = false;  // a file of that name was in the installation
        DWORD attributes = 0;    // its attributes then
        bool backedUp = false;
    };

    bool CopyIn(const Entry& entry) const;
    void RollBack() const;
    void Restore(const Entry& entry) const;
    void RemoveAdded(const Entry& entry) const;

    std::wstring stagingRoot_;
    std::wstring backupRoot_;
    std::wstring installRoot_;
    std::vector<Entry> entries_;
    bool backedUp_ = false;
};
