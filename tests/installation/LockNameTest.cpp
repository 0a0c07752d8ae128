// The installation's lock name: one per folder, however its path is spelled.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "installation/LockName.h"
#include "support/TestPaths.h"

namespace {

std::wstring NameOf(const std::wstring& directory) {
    wchar_t name[MAX_PATH];
    return InstallationLockName(directory.c_str(), name) ? name : L"refused";
}

class LockName : public testing::Test {
  protected:
    ~LockName() override { RemoveTree(root_); }
    const std::wstring root_ = MakeScratchDir(L"lock-name");
};

TEST_F(LockName, EverySpellingOfAFolderGivesItsOneName) {
    const std::wstring folder = root_ + L"\\Installation Folder";
    const std::wstring missing = root_ + L"\\Folder Not Made";  // named by its path
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root_ + L"\\Other").c_str(), nullptr));
    for (const std::wstring& dir : {folder, missing}) {
        const std::wstring name = NameOf(dir);
        EXPECT_EQ(name.rfind(L"Local\\OrvexInstall", 0), 0u) << name;
        EXPECT_EQ(NameOf(dir + L"\\"), name);
        for (const std::wstring& spelling : OtherSpellings(dir))
            EXPECT_EQ(NameOf(spelling), name) << Narrow(spelling);
    }
    EXPECT_NE(NameOf(folder), NameOf(root_ + L"\\Other"));
    EXPECT_NE(NameOf(missing), NameOf(root_ + L"\\Other Folder Not Made"));
}

TEST_F(LockName, RefusesWhatGivesNoName) {
    EXPECT_EQ(NameOf(L""), L"refused");
    // A full path that fits on its own but not after the name's prefix.
    ASSERT_LT(root_.size(), 240u);
    EXPECT_EQ(NameOf(root_ + L"\\" + std::wstring(250 - root_.size() - 1, L'n')), L"refused");
}

}  // namespace
