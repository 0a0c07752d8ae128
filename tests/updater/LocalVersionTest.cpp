#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bridge/SelfModule.h"
#include "support/ScopedHandle.h"
#include "support/TestPaths.h"
#include "updater/LocalVersion.h"
#include "updater/UpdaterState.h"

namespace {

// Stands a copy of a test DLL in a scratch directory as "the bridge library" and runs in a
// second scratch directory as the current directory, where "bx.log" lands.
class LocalVersion : public ::testing::Test {
  protected:
    void SetUp() override {
        libraryDir_ = MakeScratchDir(L"lib");
        workDir_ = MakeScratchDir(L"cwd");
        ASSERT_FALSE(libraryDir_.empty());
        ASSERT_FALSE(workDir_.empty());
        wchar_t previous[MAX_PATH];
        DWORD length = GetCurrentDirectoryW(MAX_PATH, previous);
        ASSERT_TRUE(length > 0 && length < MAX_PATH);
        previousDir_ = previous;
        ASSERT_TRUE(SetCurrentDirectoryW(workDir_.c_str()));
        TheUpdaterState().currentVersion = L"stale";
    }

    void TearDown() override {
        SetSelfModule(nullptr);
        library_.Close();
        SetCurrentDirectoryW(previousDir_.c_str());
        TheUpdaterState().currentVersion.clear();
        RemoveTree(libraryDir_);
        RemoveTree(workDir_);
    }

    // Copies the test DLL to path (which may exceed the usual limit) and makes it the
    // library whose directory holds "version.bin". False when it cannot be loaded.
    bool UseLibraryAt(const std::wstring& path) {
        std::wstring source = ArtifactDir() + L"\\TestCore.dll";
        if (!CopyFileW(source.c_str(), (L"\\\\?\\" + path).c_str(), FALSE)) return false;
        library_.Reset(LoadLibraryW(path.c_str()));
        if (!library_) library_.Reset(LoadLibraryW((L"\\\\?\\" + path).c_str()));
        if (!library_) return false;
        SetSelfModule(library_.Get());
        return true;
    }

    void WriteVersionFile(const std::string& content) {
        ASSERT_TRUE(WriteFileBytes(libraryDir_ + L"\\version.bin", content));
    }

    std::wstring LogPath() const { return workDir_ + L"\\bx.log"; }

    std::wstring libraryDir_;
    std::wstring workDir_;
    std::wstring previousDir_;
    ScopedModule library_;
};

TEST_F(LocalVersion, ReadsTheInstalledVersionAndLogsNothing) {
    ASSERT_TRUE(UseLibraryAt(libraryDir_ + L"\\OrvexBridge.dll"));
    WriteVersionFile("[other]\r\nversion=9.9.9\r\n[conf]\r\nname=x\r\nversion=1.0.3\r\n");

    EXPECT_TRUE(GetVersionInfo());
    EXPECT_EQ(TheUpdaterState().currentVersion, L"1.0.3");
    EXPECT_FALSE(PathExists(LogPath()));
}

TEST_F(LocalVersion, VersionIsTakenAsAWholeOpaqueText) {
    ASSERT_TRUE(UseLibraryAt(libraryDir_ + L"\\OrvexBridge.dll"));
    WriteVersionFile("[conf]\nversion=2.0 beta;x=1 %d\n");

    EXPECT_TRUE(GetVersionInfo());
    EXPECT_EQ(TheUpdaterState().currentVersion, L"2.0 beta;x=1 %d");
}

TEST_F(LocalVersion, UnknownVersionIsEmptyAndLoggedOnce) {
    ASSERT_TRUE(UseLibraryAt(libraryDir_ + L"\\OrvexBridge.dll"));
    const std::string files[] = {
        "[other]\r\nversion=1.0.3\r\n",  // no "conf" section
        "[conf]\r\nname=1.0.3\r\n",      // no "version" key
        "[conf]\r\nversion=\r\n",        // empty value
    };
    for (const std::string& content : files) {
        SCOPED_TRACE(content);
        WriteVersionFile(content);
        TheUpdaterState().currentVersion = L"stale";
        DeleteFileW(LogPath().c_str());

        EXPECT_FALSE(GetVersionInfo());
        EXPECT_EQ(TheUpdaterState().currentVersion, L"");
        EXPECT_EQ(ReadFileBytes(LogPath()), "unknown current_version\r\n");
    }
}

TEST_F(LocalVersion, MissingFileBehavesAsAMissingSection) {
    ASSERT_TRUE(UseLibraryAt(libraryDir_ + L"\\OrvexBridge.dll"));

    EXPECT_FALSE(GetVersionInfo());
    EXPECT_EQ(TheUpdaterState().currentVersion, L"");
    EXPECT_EQ(ReadLines(LogPath()), std::vector<std::string>{"unknown current_version"});
}

TEST_F(LocalVersion, FileIsReadBesideTheLibraryNotTheProgram) {
    ASSERT_TRUE(UseLibraryAt(libraryDir_ + L"\\OrvexBridge.dll"));
    // A decoy in the current directory must not be read.
    ASSERT_TRUE(WriteFileBytes(workDir_ + L"\\version.bin", "[conf]\r\nversion=decoy\r\n"));

    EXPECT_FALSE(GetVersionInfo());
    EXPECT_EQ(TheUpdaterState().currentVersion, L"");
}

TEST_F(LocalVersion, LongValueIsCutTo4095Characters) {
    ASSERT_TRUE(UseLibraryAt(libraryDir_ + L"\\OrvexBridge.dll"));
    std::string value;
    for (int i = 0; i < 5000; ++i) value += static_cast<char>('a' + i % 26);
    WriteVersionFile("[conf]\r\nversion=" + value + "\r\n");

    EXPECT_TRUE(GetVersionInfo());
    EXPECT_EQ(Narrow(TheUpdaterState().currentVersion), value.substr(0, 4095));
}

TEST_F(LocalVersion, SecondReadReplacesTheFirst) {
    ASSERT_TRUE(UseLibraryAt(libraryDir_ + L"\\OrvexBridge.dll"));
    WriteVersionFile("[conf]\r\nversion=1.0.3-long-suffix\r\n");
    EXPECT_TRUE(GetVersionInfo());
    WriteVersionFile("[conf]\r\nversion=1.0.4\r\n");
    EXPECT_TRUE(GetVersionInfo());
    EXPECT_EQ(TheUpdaterState().currentVersion, L"1.0.4");

    DeleteFileW((libraryDir_ + L"\\version.bin").c_str());
    EXPECT_FALSE(GetVersionInfo());
    EXPECT_EQ(TheUpdaterState().currentVersion, L"");
}

// The library's full file name must fit 259 characters; one more and its directory is not
// known, which reads as an unknown version even though "version.bin" is there.
TEST_F(LocalVersion, LibraryPathAtTheBufferLimit) {
    WriteVersionFile("[conf]\r\nversion=1.0.3\r\n");
    size_t nameLength = 259 - libraryDir_.size() - 1;
    ASSERT_LE(nameLength, 255u);
    std::wstring fits = libraryDir_ + L"\\" + std::wstring(nameLength - 4, L'b') + L".dll";
    ASSERT_EQ(fits.size(), 259u);
    ASSERT_TRUE(UseLibraryAt(fits));
    EXPECT_TRUE(GetVersionInfo());
    EXPECT_EQ(TheUpdaterState().currentVersion, L"1.0.3");

    SetSelfModule(nullptr);
    library_.Close();
    std::wstring tooLong = libraryDir_ + L"\\" + std::wstring(nameLength - 3, L'b') + L".dll";
    if (!UseLibraryAt(tooLong))
        GTEST_SKIP() << "this system cannot load a module from a 260-character path";
    EXPECT_FALSE(GetVersionInfo());
    EXPECT_EQ(TheUpdaterState().currentVersion, L"");
    EXPECT_EQ(ReadFileBytes(LogPath()), "unknown current_version\r\n");
}

}  // namespace

namespace {

// After an install or patch: the new version replaces the old one, other keys stay.
TEST_F(LocalVersion, RecordedVersionKeepsEverythingElse) {
    ASSERT_TRUE(UseLibraryAt(libraryDir_ + L"\\OrvexBridge.dll"));
    std::wstring file = libraryDir_ + L"\\version.bin";
    ASSERT_TRUE(
        WriteFileBytes(file, "[studio]\r\nchannel=beta\r\n[conf]\r\nversion=1.0\r\nlang=de\r\n"));
    ASSERT_TRUE(RecordInstalledVersion(L"1.1"));
    ASSERT_TRUE(GetVersionInfo());
    EXPECT_EQ(TheUpdaterState().currentVersion, L"1.1");
    std::vector<std::string> lines = ReadLines(file);
    for (const char* kept : {"[studio]", "channel=beta", "lang=de"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), kept), lines.end()) << kept;
    EXPECT_FALSE(RecordInstalledVersion(L""));  // an unknown version is never recorded
}

}  // namespace
