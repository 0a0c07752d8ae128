#include "installation/InstallLayout.h"

#include "support/PathUtils.h"

namespace {

bool EndsWithSeparator(const std::wstring& path) {
    return !path.empty() && (path.back() == L'\\' || path.back() == L'/');
}

void FillWorkArea(InstallLayout& layout) {
    layout.versionFile = layout.bridgeDir + L"\\version.bin";
    layout.serialFile = layout.bridgeDir + L"\\serial.bin";
    layout.workDir = layout.bridgeDir + L"\\" + kWorkDirName;
    layout.journalFile = layout.workDir + L"\\journal";
    layout.stagingDir = layout.workDir + L"\\staging";
    layout.backupDir = layout.workDir + L"\\backup";
    layout.repairDir = layout.workDir + L"\\repair";
    layout.deltaDir = layout.workDir + L"\\delta";
}

}  // namespace

InstallLayout LayoutForBridgeDir(const std::wstring& bridgeDir) {
    InstallLayout layout;
    if (bridgeDir.empty()) return layout;
    layout.bridgeDir = bridgeDir;
    layout.installDir = bridgeDir + L"\\bin\\";
    FillWorkArea(layout);
    return layout;
}

InstallLayout LayoutForInstallDir(const std::wstring& installDir) {
    InstallLayout layout;
    if (installDir.empty()) return layout;
    std::wstring trimmed = installDir;
    while (EndsWithSeparator(trimmed)) trimmed.pop_back();
    if (trimmed.empty()) return layout;
    layout.installDir = trimmed + L"\\";
    layout.bridgeDir = GetParentPath(trimmed);
    if (layout.bridgeDir == trimmed) return InstallLayout();  // a bare name has no parent
    FillWorkArea(layout);
    return layout;
}
