// The journal and the recovery it drives, on real files in a scratch installation.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "installation/InstallLayout.h"
#include "installation/Journal.h"
#include "installation/Recovery.h"
#include "installation/VersionRecord.h"
#include "support/TestPaths.h"

namespace {

Journal Sample() {
    Journal journal;
    journal.operation = L"patch";
    journal.fromVersion = L"";
    journal.toVersion = L"2.0 beta";
    journal.createdDirs = {L"", L"new dir"};
    journal.entries = {{L"Orvex.dll", true, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
                       {L"new dir\\added file.bin", false, 0}};
    return journal;
}

class Recovery : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(work_.Path().empty());
        layout_ = LayoutForBridgeDir(work_.Path());
        CreateDirectoryW(layout_.installDir.c_str(), nullptr);
        CreateDirectoryW(layout_.workDir.c_str(), nullptr);
        CreateDirectoryW(layout_.backupDir.c_str(), nullptr);
        ASSERT_TRUE(WriteVersionRecord(layout_.versionFile, L"1.0"));
        ASSERT_TRUE(WriteFileBytes(layout_.installDir + L"Orvex.dll", "half written"));
        ASSERT_TRUE(WriteFileBytes(layout_.installDir + L"added.bin", "added"));
        ASSERT_TRUE(WriteFileBytes(layout_.backupDir + L"\\Orvex.dll", "old core"));
        journal_.operation = L"patch";
        journal_.fromVersion = L"1.0";
        journal_.toVersion = L"2.0";
        journal_.entries = {{L"Orvex.dll", true, FILE_ATTRIBUTE_ARCHIVE}, {L"added.bin", false, 0}};
        ASSERT_TRUE(WriteJournal(layout_.journalFile, journal_));
    }
    std::string Installed(const wchar_t* name) { return ReadFileBytes(layout_.installDir + name); }

    ScratchWorkDir work_{L"journal"};
    InstallLayout layout_;
    Journal journal_;
};

}  // namespace

TEST(Journal, ReadsBackWhatWasWrittenAndRefusesEveryCutCopy) {
    ScratchWorkDir work(L"journal-cut");
    ASSERT_FALSE(work.Path().empty());
    std::wstring path = work.Path() + L"\\journal";
    ASSERT_TRUE(WriteJournal(path, Sample()));
    Journal read;
    ASSERT_TRUE(ReadJournal(path, read));
    EXPECT_EQ(read.toVersion, L"2.0 beta");
    EXPECT_EQ(read.createdDirs, Sample().createdDirs);
    ASSERT_EQ(read.entries.size(), 2u);
    EXPECT_EQ(read.entries[0].attributes, Sample().entries[0].attributes);
    EXPECT_EQ(read.entries[1].name, L"new dir\\added file.bin");
    EXPECT_FALSE(read.entries[1].replaced);

    // A journal is whole or it is not read: every shorter copy is refused.
    std::string bytes = ReadFileBytes(path);
    for (size_t length = 0; length < bytes.size(); length += 2) {
        ASSERT_TRUE(WriteFileBytes(path, bytes.substr(0, length)));
        EXPECT_FALSE(ReadJournal(path, read)) << length;
    }
    Journal lineBreak = Sample();
    lineBreak.entries[1].name = L"two\nlines";
    EXPECT_FALSE(WriteJournal(path, lineBreak));
}

TEST_F(Recovery, UndoesAnUnfinishedChange) {
    EXPECT_TRUE(RecoverInstallation(layout_));
    EXPECT_EQ(Installed(L"Orvex.dll"), "old core");
    EXPECT_FALSE(PathExists(layout_.installDir + L"added.bin"));
    EXPECT_EQ(ReadVersionRecord(layout_.versionFile), L"1.0");
    EXPECT_FALSE(PathExists(layout_.workDir));
    EXPECT_EQ(ReadLines(work_.Path() + L"\\bx.log"),
              std::vector<std::string>{"installation rolled back to (1.0)"});
}

TEST_F(Recovery, FinishesAChangeWhoseVersionWasRecorded) {
    ASSERT_TRUE(WriteVersionRecord(layout_.versionFile, L"2.0"));
    EXPECT_TRUE(RecoverInstallation(layout_));
    EXPECT_EQ(Installed(L"Orvex.dll"), "half written");  // the new files stay as they are
    EXPECT_EQ(Installed(L"added.bin"), "added");
    EXPECT_FALSE(PathExists(layout_.workDir));
}

TEST_F(Recovery, KeepsAJournalItCannotActOn) {
    // Unreadable, or a backup that is gone: the journal stays and the installation with it.
    ASSERT_TRUE(WriteFileBytes(layout_.journalFile, "garbage"));
    EXPECT_FALSE(RecoverInstallation(layout_));
    EXPECT_TRUE(InstallationHasJournal(layout_));
    ASSERT_TRUE(WriteJournal(layout_.journalFile, journal_));
    DeleteFileW((layout_.backupDir + L"\\Orvex.dll").c_str());
    EXPECT_FALSE(RecoverInstallation(layout_));
    EXPECT_TRUE(InstallationHasJournal(layout_));
    EXPECT_EQ(ReadVersionRecord(layout_.versionFile), L"1.0");
    std::vector<std::string> log = ReadLines(work_.Path() + L"\\bx.log");
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], "installation journal unreadable, core not loaded");
    EXPECT_EQ(log[1].rfind("installation rollback (", 0), 0u) << log[1];
    EXPECT_EQ(log[2], "installation incomplete, core not loaded");
}
