// Copies a staged set of files into an installation as one unit, so that whatever moment
// the process dies, the installation is found whole afterwards: the previous one or the new.
//   1. every installed file the change replaces is copied into the backups;
//   2. the journal is written and flushed (what is replaced, what is added, the versions);
//   3. the staged files are copied in; read-only files stay read-only;
//   4. the version record names the new version;
//   5. the journal is removed: the change is complete. The work trees go afterwards.
// A failure in 3 or 4 rolls back from the journal (RollBackChange). A process that dies
// leaves the journal, and the next run finishes or undoes the change (RecoverInstallation).
#pragma once

#include <string>
#include <vector>

#include "installation/InstallLayout.h"
#include "installation/Journal.h"

struct ChangeRequest {
    std::wstring operation;  // "install" or "patch"
    std::wstring toVersion;  // recorded on success; "" records none
    // The verified archive's files, relative to the staging tree, no leading separator.
    std::vector<std::wstring> names;
};

// Installs layout.stagingDir's named files into layout.installDir. True when every file is
// installed and the version recorded. False when nothing changed, or the change was rolled
// back; when even the rollback failed the journal stays (see RollBackChange).
bool ApplyChange(const InstallLayout& layout, const ChangeRequest& request);

// Puts back everything the journal lists: replaced files from the backups (bytes and
// attributes), added files and directories removed, the version record as it was. Then
// removes the journal and the work trees. A file that cannot be restored is logged to
// "bx.log"; the journal and the backups are kept then, and the result is false.
bool RollBackChange(const InstallLayout& layout, const Journal& journal);

// Removes the staging, backup and repair trees of the work area.
void ClearWorkTrees(const InstallLayout& layout);
