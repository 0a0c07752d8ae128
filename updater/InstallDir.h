// Where the core module's installation lives: the bridge's directory followed by "\bin\".
#pragma once

#include <string>

#include "installation/InstallLayout.h"

// The bridge library's directory followed by "\bin\"; empty when that directory is unknown.
std::wstring DefaultInstallDir();

// UpdaterState::installDir when a step has set it, else DefaultInstallDir(). Never the
// process's current directory: that is the game's folder, where a module written by the
// updater would be found by the game's own library search.
std::wstring InstallDirOrDefault();

// The layout of the installation beside this bridge library (installation/InstallLayout.h).
InstallLayout TheInstallLayout();
