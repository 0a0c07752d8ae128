// The first act of every update run, under the installation's lock: a journal left by a
// process that died mid-change is finished or undone before anything reads or loads from
// the installation.
#pragma once

#include "installation/InstallLayout.h"

// True when the installation is whole (no journal, or the change it described is now
// complete or undone). False when it could not be made whole: the journal stays, the core
// module is not loaded from it, and "bx.log" says why. Leftover work trees of a run that
// died before its journal was written are removed either way.
bool RecoverInstallation(const InstallLayout& layout);

// True while a journal says the installation may be half changed.
bool InstallationHasJournal(const InstallLayout& layout);
