#include "installation/Recovery.h"

#include <string>

#include "installation/FileChange.h"
#include "installation/InstallChange.h"
#include "installation/Journal.h"
#include "installation/VersionRecord.h"
#include "support/Log.h"
#include "support/TextConvert.h"

namespace {

void LogVersion(const char* format, const std::wstring& version) {
    std::string narrow;
    WideToAnsi(version.c_str(), narrow);
    WriteLog("bx.log", "a", format, narrow.c_str());
}

bool Recover(const InstallLayout& layout) {
    if (!JournalExists(layout.journalFile)) {
        ClearWorkTrees(layout);  // a run that died before its journal changed nothing
        return true;
    }
    Journal journal;
    if (!ReadJournal(layout.journalFile, journal)) {
        WriteLog("bx.log", "a", "installation journal unreadable, core not loaded\n");
        return false;
    }
    // The version is recorded only after the last file is in: the change is complete.
    if (!journal.toVersion.empty() && journal.toVersion != journal.fromVersion &&
        ReadVersionRecord(layout.versionFile) == journal.toVersion) {
        if (!DeleteInstalledFile(layout.journalFile)) return false;
        ClearWorkTrees(layout);
        LogVersion("installation completed (%s)\n", journal.toVersion);
        return true;
    }
    if (!RollBackChange(layout, journal)) {
        WriteLog("bx.log", "a", "installation incomplete, core not loaded\n");
        return false;
    }
    LogVersion("installation rolled back to (%s)\n", journal.fromVersion);
    return true;
}

}  // namespace

bool RecoverInstallation(const InstallLayout& layout) {
    if (layout.installDir.empty()) return true;
    try {
        return Recover(layout);
    } catch (...) {
        return false;
    }
}

bool InstallationHasJournal(const InstallLayout& layout) {
    return !layout.journalFile.empty() && JournalExists(layout.journalFile);
}
