#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <cstring>
#include <initializer_list>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "archive/ArchiveDatabase.h"
#include "archive/BlockBufferAlloc.h"
#include "archive/ExtractArchive.h"
#include "support/TestPaths.h"

namespace {

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Made by make_archives.sh with the real 7zz before this program runs (a CTest fixture).
std::wstring Fixtures() { return ArtifactDir() + L"\\archive_fixtures"; }
std::wstring Archive(const std::string& name) { return Fixtures() + L"\\" + Wide(name) + L".7z"; }

// Every file (name -> bytes) and directory (name + "\" -> "") below dir.
void ReadTree(const std::wstring& dir, const std::wstring& prefix,
              std::map<std::wstring, std::string>& tree) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            tree[prefix + name + L"\\"];
            ReadTree(dir + L"\\" + name, prefix + name + L"\\", tree);
        } else {
            tree[prefix + name] = ReadFileBytes(dir + L"\\" + name);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

std::map<std::wstring, std::string> Tree(const std::wstring& dir) {
    std::map<std::wstring, std::string> tree;
    ReadTree(dir, L"", tree);
    return tree;
}

std::vector<std::string> Names(const std::map<std::wstring, std::string>& tree) {
    std::vector<std::string> names;
    for (const auto& entry : tree) names.push_back(Narrow(entry.first));
    return names;
}

void ExpectSameTree(const std::wstring& actual, const std::wstring& expected) {
    auto got = Tree(actual);
    auto want = Tree(expected);
    ASSERT_EQ(Names(got), Names(want));
    for (const auto& entry : want) {
        EXPECT_TRUE(got[entry.first] == entry.second) << Narrow(entry.first) << " differs";
    }
}

class ArchiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        scratch_ = MakeScratchDir(L"arc");
        ASSERT_FALSE(scratch_.empty());
        dest_ = scratch_ + L"\\dest";
        ASSERT_TRUE(CreateDirectoryW(dest_.c_str(), nullptr));
    }
    void TearDown() override { RemoveTree(scratch_); }

    // Nothing in the destination, and nothing beside it either.
    void ExpectNothingWritten() {
        EXPECT_EQ(Names(Tree(scratch_)), std::vector<std::string>{"dest\\"});
    }

    std::wstring scratch_;
    std::wstring dest_;
};

struct Case {
    std::string archive;
    std::string tree;  // below the fixtures: what extracting the archive must produce
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.archive << ".7z"; }

std::vector<Case> Cases(const char* tree, std::initializer_list<const char*> archives) {
    std::vector<Case> cases;
    for (const char* archive : archives) cases.push_back({archive, tree});
    return cases;
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    std::string name = info.param.archive;
    for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

class Extracts : public ArchiveTest, public ::testing::WithParamInterface<Case> {};

TEST_P(Extracts, ExactlyTheStoredFiles) {
    EXPECT_TRUE(ExtractArchive(Archive(GetParam().archive).c_str(), dest_.c_str()));
    ExpectSameTree(dest_, Fixtures() + L"\\" + Wide(GetParam().tree));
}

INSTANTIATE_TEST_SUITE_P(Mixed, Extracts,
                         ::testing::ValuesIn(Cases("src\\mixed", {"lzma", "lzma2", "ppmd", "copy",
                                                                  "delta", "solid", "nonsolid",
                                                                  "twofileblocks", "smallblocks"})),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(Filter, Extracts,
                         ::testing::ValuesIn(Cases("src\\exe",
                                                   {"BCJ", "BCJ2", "ARM", "ARMT", "ARM64", "PPC",
                                                    "SPARC", "IA64", "RISCV"})),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(Level, Extracts,
                         ::testing::ValuesIn(Cases("src\\all", {"fastest", "ultra"})), CaseName);
INSTANTIATE_TEST_SUITE_P(Nothing, Extracts,
                         ::testing::ValuesIn(Cases("expect\\none", {"dirsonly", "empty"})),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(Names, Extracts,
                         ::testing::Values(Case{"emptyfiles", "src\\emptyfiles"},
                                           Case{"backslash", "expect\\backslash"}),
                         CaseName);

// Each holds a single file entry, so a refusal at any step must leave nothing behind.
class Refuses : public ArchiveTest, public ::testing::WithParamInterface<Case> {};

TEST_P(Refuses, AndWritesNothing) {
    EXPECT_FALSE(ExtractArchive(Archive(GetParam().archive).c_str(), dest_.c_str()));
    ExpectNothingWritten();
}

INSTANTIATE_TEST_SUITE_P(
    Archive, Refuses,
    ::testing::ValuesIn(Cases("", {"missing", "notanarchive", "truncated", "damaged-single-copy",
                                   "damaged-single-lzma", "hugesize", "aes", "aesheaders", "bzip2",
                                   "deflate", "swap4", "parent", "absolute", "drive", "device"})),
    CaseName);

TEST_F(ArchiveTest, ExtractingTwiceReplacesEveryFile) {
    ASSERT_TRUE(ExtractArchive(Archive("lzma2").c_str(), dest_.c_str()));
    ASSERT_TRUE(WriteFileBytes(dest_ + L"\\sub\\dir\\deep.bin", "changed"));
    EXPECT_TRUE(ExtractArchive(Archive("lzma2").c_str(), dest_.c_str()));
    ExpectSameTree(dest_, Fixtures() + L"\\src\\mixed");
}

TEST_F(ArchiveTest, StoredAttributesEndOnTheFiles) {
    ASSERT_TRUE(ExtractArchive(Archive("attributes").c_str(), dest_.c_str()));
    auto attributes = [&](const wchar_t* name) {
        return GetFileAttributesW((dest_ + name).c_str());
    };
    EXPECT_EQ(attributes(L"\\readonly.txt"),
              DWORD{FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE});
    EXPECT_EQ(attributes(L"\\hidden.txt"), DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE});
    EXPECT_EQ(attributes(L"\\plain.txt"), DWORD{FILE_ATTRIBUTE_ARCHIVE});
}

TEST(FileAttributesOfEntry, DropsTheUnixModeAndKeepsWindowsBits) {
    EXPECT_EQ(FileAttributesOfEntry(0x81A48021u), 0x21u);  // 0x8000: mode 0100644 above
    EXPECT_EQ(FileAttributesOfEntry(0x00000026u), 0x26u);
    EXPECT_EQ(FileAttributesOfEntry(0x00002020u), 0x2020u);  // not content indexed
}

TEST_F(ArchiveTest, PathsUpTo259CharactersAreWrittenAndLongerOnesFailCleanly) {
    const size_t nameLength = 150;  // the stored name of longname.7z
    const size_t rootLength = MAX_PATH - 1 - 1 - nameLength;
    ASSERT_LT(scratch_.size() + 2, rootLength);
    std::wstring fits = scratch_ + L"\\" + std::wstring(rootLength - scratch_.size() - 1, L'r');
    std::wstring tooLong = fits + L"x";
    ASSERT_TRUE(CreateDirectoryW(fits.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(tooLong.c_str(), nullptr));

    EXPECT_TRUE(ExtractArchive(Archive("longname").c_str(), fits.c_str()));
    ExpectSameTree(fits, Fixtures() + L"\\src\\long");
    EXPECT_FALSE(ExtractArchive(Archive("longname").c_str(), tooLong.c_str()));
    EXPECT_TRUE(Tree(tooLong).empty());
}

// Solid blocks of different sizes reuse one buffer: never two at once, and a bigger block
// replaces the kept one rather than joining it.
TEST(BlockBufferAlloc, KeepsTheFreedBlockForTheNextOneThatFits) {
    BlockBufferAlloc blocks;
    ISzAllocPtr alloc = blocks.Alloc();
    void* first = ISzAlloc_Alloc(alloc, 1 << 20);
    ASSERT_NE(first, nullptr);
    ISzAlloc_Free(alloc, first);
    void* smaller = ISzAlloc_Alloc(alloc, 1000);
    EXPECT_EQ(smaller, first);
    ISzAlloc_Free(alloc, smaller);
    void* same =
        ISzAlloc_Alloc(alloc, 1 << 20);  // still the whole 1 MiB, not the 1000 asked before
    EXPECT_EQ(same, first);
    ISzAlloc_Free(alloc, same);
    void* bigger = ISzAlloc_Alloc(alloc, 4 << 20);
    ASSERT_NE(bigger, nullptr);
    std::memset(bigger, 0x5A, 4 << 20);  // all of it is ours
    ISzAlloc_Free(alloc, bigger);
    EXPECT_EQ(ISzAlloc_Alloc(alloc, 0), nullptr);
    ISzAlloc_Free(alloc, nullptr);
    blocks.Release();
    blocks.Release();  // idempotent
}

}  // namespace
