// Where the parts of one installation live. Everything the updater changes sits beside the
// bridge library, on the volume of the installation itself, so a move into place never
// crosses volumes and no other program's files share the names:
//   <bridge>\bin\                        the installation (the core module and its files)
//   <bridge>\version.bin                 the version record
//   <bridge>\serial.bin                  the highest signed manifest serial accepted
//   <bridge>\OrvexBridge.update\         the work area, private to this installation:
//       journal                          present only while bin\ is being changed
//       staging\  backup\  repair\       the unpacked archive, the replaced files, repair
//                                        downloads
//       delta\                           an unpacked delta archive, rebuilt into staging\ files
#pragma once

#include <string>

struct InstallLayout {
    std::wstring bridgeDir;    // no trailing separator
    std::wstring installDir;   // bridgeDir + "\bin\"
    std::wstring versionFile;  // bridgeDir + "\version.bin"
    std::wstring serialFile;   // bridgeDir + "\serial.bin"
    std::wstring workDir;
    std::wstring journalFile;
    std::wstring stagingDir;
    std::wstring backupDir;
    std::wstring repairDir;
    std::wstring deltaDir;
};

// The work area's name, beside the installation.
constexpr const wchar_t* kWorkDirName = L"OrvexBridge.update";

// The layout of the installation beside the bridge directory; empty fields when it is empty.
InstallLayout LayoutForBridgeDir(const std::wstring& bridgeDir);

// The layout around an installation directory given with or without its trailing separator
// (its parent plays the bridge directory); installDir keeps the spelling given, plus "\".
InstallLayout LayoutForInstallDir(const std::wstring& installDir);
