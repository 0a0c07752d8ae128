#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/PathUtils.h"
#include "support/ScopedHandle.h"
#include "support/TestPaths.h"

namespace {

// dir + "\" + a name of 'n's ending in suffix, exactly `length` characters long.
std::wstring PathOfLength(const std::wstring& dir, size_t length, const std::wstring& suffix) {
    size_t fixed = dir.size() + 1 + suffix.size();
    EXPECT_LT(fixed, length);
    EXPECT_LE(length - dir.size() - 1, 255u) << "one name component holds at most 255";
    return dir + L"\\" + std::wstring(length - fixed, L'n') + suffix;
}

// The long-path prefix lets the test create entries that the code under test must refuse.
std::wstring Extended(const std::wstring& path) { return L"\\\\?\\" + path; }

// Counts calls of the runtime's invalid-parameter handler while alive. A bounded copy that
// overflows calls it, and the default handler ends the process.
class InvalidParameterWatch {
  public:
    InvalidParameterWatch() : previous_(_set_invalid_parameter_handler(&Record)) { calls_ = 0; }
    ~InvalidParameterWatch() { _set_invalid_parameter_handler(previous_); }
    InvalidParameterWatch(const InvalidParameterWatch&) = delete;
    InvalidParameterWatch& operator=(const InvalidParameterWatch&) = delete;
    int Calls() const { return calls_; }

  private:
    static void __cdecl Record(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                               uintptr_t) {
        ++calls_;
    }
    static int calls_;
    _invalid_parameter_handler previous_;
};
int InvalidParameterWatch::calls_ = 0;

class PathUtils : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = MakeScratchDir(L"path");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override { RemoveTree(dir_); }

    std::wstring dir_;
};

TEST(GetParentPath, CutsAtTheRightmostSeparatorOfEitherKind) {
    EXPECT_EQ(GetParentPath(L"C:\\a/b\\c.txt"), L"C:\\a/b");
    EXPECT_EQ(GetParentPath(L"C:\\a\\b/c.txt"), L"C:\\a\\b");
    EXPECT_EQ(GetParentPath(L"C:/a/b/c.txt"), L"C:/a/b");
    EXPECT_EQ(GetParentPath(L"C:\\a\\b\\c.txt"), L"C:\\a\\b");
}

TEST(GetParentPath, EdgeShapes) {
    EXPECT_EQ(GetParentPath(L"version.bin"), L"version.bin");
    EXPECT_EQ(GetParentPath(L""), L"");
    EXPECT_EQ(GetParentPath(L"C:\\a\\b\\"), L"C:\\a\\b");
    EXPECT_EQ(GetParentPath(L"C:\\a\\b/"), L"C:\\a\\b");
    EXPECT_EQ(GetParentPath(L"\\x"), L"");
    EXPECT_EQ(GetParentPath(L"C:\\x"), L"C:");
}

TEST_F(PathUtils, ModuleDirectoryHasNoTrailingSeparator) {
    EXPECT_EQ(GetModuleDirectory(nullptr), ArtifactDir());

    std::wstring copy = dir_ + L"\\copy.dll";
    ASSERT_TRUE(CopyFileW((ArtifactDir() + L"\\TestCore.dll").c_str(), copy.c_str(), FALSE));
    ScopedModule module(LoadLibraryW(copy.c_str()));
    ASSERT_TRUE(module.Valid());
    EXPECT_EQ(GetModuleDirectory(module.Get()), dir_);
}

TEST_F(PathUtils, ModuleDirectoryOfAFileNameLongerThan259IsEmpty) {
    std::wstring source = ArtifactDir() + L"\\TestCore.dll";
    std::wstring fits = PathOfLength(dir_, 259, L".dll");
    std::wstring tooLong = PathOfLength(dir_, 260, L".dll");
    ASSERT_TRUE(CopyFileW(source.c_str(), Extended(fits).c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(source.c_str(), Extended(tooLong).c_str(), FALSE));

    ScopedModule fitting(LoadLibraryW(fits.c_str()));
    ASSERT_TRUE(fitting.Valid());
    EXPECT_EQ(GetModuleDirectory(fitting.Get()), dir_);

    ScopedModule longer(LoadLibraryW(tooLong.c_str()));
    if (!longer) longer.Reset(LoadLibraryW(Extended(tooLong).c_str()));
    if (!longer) GTEST_SKIP() << "this system cannot load a module from a 260-character path";
    EXPECT_EQ(GetModuleDirectory(longer.Get()), L"");
}

TEST_F(PathUtils, FileExistsOnlyForFiles) {
    std::wstring file = dir_ + L"\\a.dll";
    ASSERT_TRUE(WriteFileBytes(file, "x"));
    std::wstring empty = dir_ + L"\\empty.txt";
    ASSERT_TRUE(WriteFileBytes(empty, ""));
    std::wstring sub = dir_ + L"\\s";
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));

    EXPECT_TRUE(FileExists(file.c_str()));
    EXPECT_TRUE(FileExists(empty.c_str()));
    EXPECT_FALSE(FileExists(sub.c_str()));
    EXPECT_FALSE(FileExists(dir_.c_str()));
    EXPECT_FALSE(FileExists((dir_ + L"\\missing.dll").c_str()));
    EXPECT_FALSE(FileExists((dir_ + L"\\missing\\a.dll").c_str()));
}

TEST_F(PathUtils, FileExistsForReadOnlyAndHiddenFiles) {
    std::wstring file = dir_ + L"\\locked.dll";
    ASSERT_TRUE(WriteFileBytes(file, "x"));
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(FileExists(file.c_str()));
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(PathUtils, CreateDirectoryPathCreatesEveryLevel) {
    std::wstring deepest = dir_ + L"\\x\\y\\z";
    CreateDirectoryPath(deepest.c_str());
    EXPECT_TRUE(PathExists(dir_ + L"\\x"));
    EXPECT_TRUE(PathExists(dir_ + L"\\x\\y"));
    EXPECT_TRUE(PathExists(deepest));

    std::wstring trailing = dir_ + L"\\p\\q\\r\\";
    CreateDirectoryPath(trailing.c_str());
    EXPECT_TRUE(PathExists(dir_ + L"\\p\\q\\r"));
    EXPECT_FALSE(FileExists((dir_ + L"\\p\\q\\r").c_str()));

    std::wstring slashes = dir_ + L"/f/g\\h/";
    CreateDirectoryPath(slashes.c_str());
    EXPECT_TRUE(PathExists(dir_ + L"\\f\\g\\h"));
}

TEST_F(PathUtils, CreateDirectoryPathLeavesExistingDirectoriesAlone) {
    std::wstring deepest = dir_ + L"\\x\\y";
    CreateDirectoryPath(deepest.c_str());
    ASSERT_TRUE(WriteFileBytes(deepest + L"\\keep.txt", "keep"));

    CreateDirectoryPath(deepest.c_str());
    CreateDirectoryPath((deepest + L"\\").c_str());
    EXPECT_EQ(ReadFileBytes(deepest + L"\\keep.txt"), "keep");

    // A file standing where a directory should be stays a file.
    std::wstring file = dir_ + L"\\plain";
    ASSERT_TRUE(WriteFileBytes(file, "data"));
    CreateDirectoryPath((file + L"\\below").c_str());
    EXPECT_TRUE(FileExists(file.c_str()));
    EXPECT_EQ(ReadFileBytes(file), "data");
}

// Whether the platform creates a directory this deep depends on its path limits; what is
// checked here is that the first level, well within any limit, is created only when the
// whole path fits the buffer.
TEST_F(PathUtils, CreateDirectoryPathRefusesPathsThatDoNotFit) {
    InvalidParameterWatch watch;
    std::wstring level = dir_ + L"\\new";
    std::wstring fits = PathOfLength(level, 258, L"");
    std::wstring tooLong = PathOfLength(level, 259, L"");

    CreateDirectoryPath(tooLong.c_str());
    EXPECT_FALSE(PathExists(level)) << "259 characters need a separator appended";
    CreateDirectoryPath(fits.c_str());
    EXPECT_TRUE(PathExists(level));
    ASSERT_TRUE(RemoveDirectoryW(fits.c_str()) || !PathExists(fits));
    ASSERT_TRUE(RemoveDirectoryW(level.c_str()));

    std::wstring fitsWithSeparator = PathOfLength(level, 258, L"") + L"\\";
    std::wstring tooLongWithSeparator = PathOfLength(level, 259, L"") + L"\\";
    ASSERT_EQ(fitsWithSeparator.size(), 259u);
    CreateDirectoryPath(tooLongWithSeparator.c_str());
    EXPECT_FALSE(PathExists(level)) << "260 characters never fit";
    CreateDirectoryPath(fitsWithSeparator.c_str());
    EXPECT_TRUE(PathExists(level));
    EXPECT_EQ(watch.Calls(), 0);
}

// A tree of every kind of entry the walk meets: nested and empty directories, read-only and
// hidden files, a read-only directory holding a read-only file. The given file is left
// writable so a test can hold it open.
void MakeTree(const std::wstring& tree) {
    CreateDirectoryPath((tree + L"\\s\\t").c_str());
    CreateDirectoryPath((tree + L"\\empty").c_str());
    CreateDirectoryPath((tree + L"\\ro").c_str());
    const struct {
        const wchar_t* name;
        DWORD attributes;
    } files[] = {
        {L"\\a.dll", FILE_ATTRIBUTE_NORMAL},
        {L"\\s\\b.txt", FILE_ATTRIBUTE_READONLY},
        {L"\\s\\held.dll", FILE_ATTRIBUTE_NORMAL},
        {L"\\s\\t\\c.dll", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY},
        {L"\\ro\\d.dll", FILE_ATTRIBUTE_READONLY},
        {L"\\z.txt", FILE_ATTRIBUTE_READONLY},
    };
    for (const auto& file : files) {
        ASSERT_TRUE(WriteFileBytes(tree + file.name, "x"));
        ASSERT_TRUE(SetFileAttributesW((tree + file.name).c_str(), file.attributes));
    }
    ASSERT_TRUE(SetFileAttributesW((tree + L"\\ro").c_str(), FILE_ATTRIBUTE_READONLY));
}

std::vector<std::string> FileNames(const std::wstring& dir) {
    std::vector<std::string> names;
    for (const auto& file : FileTreeBytes(dir)) names.push_back(file.first);
    return names;
}

TEST_F(PathUtils, DeleteDirectoryTreeRemovesANestedTreeWithReadOnlyEntries) {
    // Neighbours sharing the name's prefix must survive.
    std::wstring neighbour = dir_ + L"\\tree.old";
    ASSERT_TRUE(CreateDirectoryW(neighbour.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(neighbour + L"\\d.dll", "d"));
    ASSERT_TRUE(WriteFileBytes(dir_ + L"\\tree2", "e"));

    for (const wchar_t* suffix : {L"", L"\\"}) {
        std::wstring tree = dir_ + L"\\tree";
        ASSERT_NO_FATAL_FAILURE(MakeTree(tree));
        EXPECT_TRUE(DeleteDirectoryTree((tree + suffix).c_str())) << "suffix " << Narrow(suffix);
        EXPECT_FALSE(PathExists(tree)) << "suffix " << Narrow(suffix);
    }
    EXPECT_TRUE(FileExists((neighbour + L"\\d.dll").c_str()));
    EXPECT_TRUE(FileExists((dir_ + L"\\tree2").c_str()));
}

TEST_F(PathUtils, DeleteDirectoryTreeLeavesAFileHeldOpenAndDeletesTheRest) {
    std::wstring tree = dir_ + L"\\tree";
    ASSERT_NO_FATAL_FAILURE(MakeTree(tree));
    std::wstring heldPath = tree + L"\\s\\held.dll";
    {
        ScopedFile held(CreateFileW(heldPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held.Valid());
        EXPECT_FALSE(DeleteDirectoryTree(tree.c_str()));
    }
    EXPECT_EQ(FileNames(tree), std::vector<std::string>{"s\\held.dll"});
    EXPECT_FALSE(PathExists(tree + L"\\s\\t"));
    EXPECT_FALSE(PathExists(tree + L"\\ro"));
    EXPECT_TRUE(DeleteDirectoryTree(tree.c_str())) << "once closed it goes too";
    EXPECT_FALSE(PathExists(tree));
}

TEST_F(PathUtils, DeleteDirectoryTreeRemovesASingleFileOnly) {
    for (DWORD attributes : {FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_READONLY}) {
        std::wstring file = dir_ + L"\\patch.7z";
        ASSERT_TRUE(WriteFileBytes(file, "7z"));
        ASSERT_TRUE(SetFileAttributesW(file.c_str(), attributes));
        EXPECT_TRUE(DeleteDirectoryTree(file.c_str())) << attributes;
        EXPECT_FALSE(PathExists(file)) << attributes;
        EXPECT_TRUE(PathExists(dir_));
    }
}

TEST_F(PathUtils, DeleteDirectoryTreeOfAMissingPathFails) {
    std::wstring keep = dir_ + L"\\keep.txt";
    ASSERT_TRUE(WriteFileBytes(keep, "keep"));
    EXPECT_FALSE(DeleteDirectoryTree((dir_ + L"\\missing").c_str()));
    EXPECT_FALSE(DeleteDirectoryTree(L""));
    EXPECT_EQ(ReadFileBytes(keep), "keep");
}

TEST_F(PathUtils, DeleteDirectoryTreeRefusesPathsLongerThan259) {
    InvalidParameterWatch watch;
    std::wstring fits = PathOfLength(dir_, 259, L".bin");
    std::wstring tooLong = PathOfLength(dir_, 260, L".bin");
    ASSERT_TRUE(WriteFileBytes(fits, "a"));
    ASSERT_TRUE(WriteFileBytes(Extended(tooLong), "b"));

    EXPECT_FALSE(DeleteDirectoryTree(tooLong.c_str()));
    EXPECT_TRUE(PathExists(Extended(tooLong)));
    EXPECT_TRUE(DeleteDirectoryTree(fits.c_str()));
    EXPECT_FALSE(PathExists(fits));
    EXPECT_TRUE(PathExists(Extended(tooLong)));
    // Far too long as well: refused before anything is touched.
    std::wstring huge = dir_ + L"\\" + std::wstring(200, L'h') + L"\\" + std::wstring(200, L'h');
    EXPECT_FALSE(DeleteDirectoryTree(huge.c_str()));
    CreateDirectoryPath(huge.c_str());
    EXPECT_FALSE(PathExists(dir_ + L"\\" + std::wstring(200, L'h')));
    EXPECT_EQ(watch.Calls(), 0);
}

TEST_F(PathUtils, CollectFilesListsFilesDepthFirst) {
    ASSERT_TRUE(WriteFileBytes(dir_ + L"\\a.dll", "a"));
    ASSERT_TRUE(WriteFileBytes(dir_ + L"\\b.txt", "b"));
    CreateDirectoryPath((dir_ + L"\\s\\t").c_str());
    CreateDirectoryPath((dir_ + L"\\empty").c_str());
    ASSERT_TRUE(WriteFileBytes(dir_ + L"\\s\\c.dll", "c"));
    ASSERT_TRUE(WriteFileBytes(dir_ + L"\\s\\d.dll", "d"));
    ASSERT_TRUE(WriteFileBytes(dir_ + L"\\s\\t\\e.txt", "e"));
    ASSERT_TRUE(WriteFileBytes(dir_ + L"\\z.txt", "z"));

    std::vector<std::wstring> list;
    CollectFiles(dir_, list);

    std::vector<std::wstring> sorted = list;
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::wstring> expected = {dir_ + L"\\a.dll",       dir_ + L"\\b.txt",
                                          dir_ + L"\\s\\c.dll",    dir_ + L"\\s\\d.dll",
                                          dir_ + L"\\s\\t\\e.txt", dir_ + L"\\z.txt"};
    EXPECT_EQ(sorted, expected);

    // Everything below s sits together, where s was met.
    auto belowS = [&](const std::wstring& p) { return p.rfind(dir_ + L"\\s\\", 0) == 0; };
    auto first = std::find_if(list.begin(), list.end(), belowS);
    ASSERT_NE(first, list.end());
    EXPECT_EQ(std::count_if(list.begin(), list.end(), belowS), 3);
    EXPECT_TRUE(std::all_of(first, first + 3, belowS));
}

TEST_F(PathUtils, CollectFilesAppendsToTheList) {
    ASSERT_TRUE(WriteFileBytes(dir_ + L"\\a.dll", "a"));
    std::vector<std::wstring> list = {L"earlier"};
    CollectFiles(dir_, list);
    EXPECT_EQ(list, (std::vector<std::wstring>{L"earlier", dir_ + L"\\a.dll"}));
}

TEST_F(PathUtils, CollectFilesOfAMissingOrEmptyDirectoryAddsNothing) {
    std::vector<std::wstring> list = {L"earlier"};
    CollectFiles(dir_ + L"\\missing", list);
    CollectFiles(dir_, list);
    EXPECT_EQ(list, std::vector<std::wstring>{L"earlier"});
}

}  // namespace
