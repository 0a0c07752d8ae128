// Seeded hostile variations of 7z archives: bit flips, truncation, and crafted header fields
// whose checksums are made good again so that the parser reads on. Each case is extracted
// into a fresh directory; none may crash, hang, write beside its destination or keep a
// handle open.
#include <gtest/gtest.h>

#include <windows.h>

#include <7zCrc.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "archive/ExtractArchive.h"
#include "support/FuzzRandom.h"
#include "support/HandleCount.h"
#include "support/ScopedHandle.h"
#include "support/TestPaths.h"

namespace {

// The 32-bit build runs in a slow emulated machine: the same kinds of case, fewer of them.
constexpr int kCases = sizeof(void*) == 4 ? 500 : 2000;

// The start header: signature and version (8 bytes), the CRC of the 20 bytes after it, the
// end header's offset (counted from byte 32), its size and its CRC.
constexpr size_t kStartCrc = 8, kNextOffset = 12, kNextSize = 20, kNextCrc = 28, kStartBytes = 32;

const uint64_t kCraftedNumbers[] = {0,
                                    1,
                                    2,
                                    7,
                                    0x7F,
                                    0x80,
                                    0xFF,
                                    0x10000,
                                    0x7FFFFFFF,
                                    0x80000000,
                                    0xFFFFFFFF,
                                    0x100000000,
                                    uint64_t{1} << 40,
                                    uint64_t{1} << 62,
                                    ~uint64_t{0} - 1,
                                    ~uint64_t{0}};

void Put(std::string& bytes, size_t at, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

uint64_t Get64(const std::string& bytes, size_t at) {
    uint64_t value = 0;
    for (size_t i = 0; i < 8; ++i)
        value |= uint64_t{static_cast<unsigned char>(bytes[at + i])} << (8 * i);
    return value;
}

uint32_t Crc(const std::string& bytes, size_t from, size_t size) {
    return CrcCalc(bytes.data() + from, size);
}

// A number as the 7z headers write it: a first byte whose leading ones count the bytes after
// it, which hold the low bits.
std::string Number(uint64_t value) {
    std::string out;
    for (int extra = 0; extra < 8; ++extra) {
        if (value < uint64_t{1} << (7 * (extra + 1))) {
            out += static_cast<char>(((0xFF00 >> extra) & 0xFF) | (value >> (8 * extra)));
            for (int i = 0; i < extra; ++i) out += static_cast<char>(value >> (8 * i));
            return out;
        }
    }
    out += '\xFF';
    for (int i = 0; i < 8; ++i) out += static_cast<char>(value >> (8 * i));
    return out;
}

struct Seed {
    const wchar_t* name;
    bool plainHeader;  // made with -mhc=off
    size_t files;      // entries, directories included
    std::string bytes;
    size_t header = 0;  // where the end header starts; it runs to the end of the file
};

// The end header changed and still runs to the end: its size and CRC, then the start
// header's CRC, made to match, so that the parser takes it.
void SealHeader(std::string& archive, size_t header) {
    Put(archive, kNextSize, archive.size() - header, 8);
    Put(archive, kNextCrc, Crc(archive, header, archive.size() - header), 4);
    Put(archive, kStartCrc, Crc(archive, kNextOffset, 20), 4);
}

void MutateOnce(FuzzRandom& random, const Seed& seed, std::string& archive) {
    const size_t header = seed.header;
    const bool sealed = archive.size() > header;  // not truncated into or before the header
    switch (random.Below(9)) {
        case 0:
            random.FlipBits(archive, 0, archive.size(), 1 + random.Below(8));
            break;
        case 1:
            random.FlipBits(archive, 0, kStartBytes, 1 + random.Below(3));
            break;
        case 2:
            random.FlipBits(archive, header, archive.size(), 1 + random.Below(3));
            break;
        case 3:
            random.Truncate(archive);
            break;
        case 4:  // where the end header is and how long, with a good CRC
            if (archive.size() >= kStartBytes) {
                uint64_t value = random.OneIn(2) ? random.Pick(kCraftedNumbers)
                                                 : random.Below(archive.size() + 64);
                Put(archive, random.OneIn(2) ? kNextOffset : kNextSize, value, 8);
                Put(archive, kStartCrc, Crc(archive, kNextOffset, 20), 4);
            }
            break;
        case 5:  // the end header's bytes, sealed again
            if (sealed) {
                random.FlipBits(archive, header, archive.size(), 1 + random.Below(3));
                SealHeader(archive, header);
            }
            break;
        case 6:  // a byte of the end header replaced by a crafted number: a size, a count, an id
            if (sealed) {
                archive.replace(header + random.Below(archive.size() - header), 1,
                                Number(random.Pick(kCraftedNumbers)));
                SealHeader(archive, header);
            }
            break;
        case 7: {  // the entry count after the files property (0x05), where it can be found
            std::string mark = {'\x05', static_cast<char>(seed.files)};
            size_t at = seed.plainHeader && sealed ? archive.find(mark, header) : std::string::npos;
            if (at != std::string::npos) {
                const uint64_t counts[] = {0,    1,          seed.files - 1,   seed.files + 1,
                                           1000, 0xFFFFFFFF, uint64_t{1} << 40};
                archive.replace(at + 1, 1, Number(random.Pick(counts)));
                SealHeader(archive, header);
            }
            break;
        }
        default:  // the packed streams, behind a good header
            random.FlipBits(archive, kStartBytes, header, 1 + random.Below(4));
            break;
    }
}

// Every name below dir (directories end in "\"), apart from the tree at skip.
void ListTree(const std::wstring& dir, const std::wstring& prefix, const std::wstring& skip,
              std::set<std::wstring>& names) {
    WIN32_FIND_DATAW data;
    ScopedFind find(FindFirstFileW((dir + L"\\*").c_str(), &data));
    if (!find) return;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L".." || dir + L"\\" + name == skip) continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            names.insert(prefix + name + L"\\");
            ListTree(dir + L"\\" + name, prefix + name + L"\\", skip, names);
        } else {
            names.insert(prefix + name);
        }
    } while (FindNextFileW(find.Get(), &data));
}

class ArchiveFuzz : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.empty());
        // Two levels above the destination, so that a name climbing out lands in view.
        ASSERT_TRUE(CreateDirectoryW((scratch_ + L"\\nest").c_str(), nullptr));
        CrcGenerateTable();
        for (Seed& seed : seeds_) {
            seed.bytes =
                ReadFileBytes(ArtifactDir() + L"\\archive_fixtures\\fuzz\\" + seed.name + L".7z");
            ASSERT_GT(seed.bytes.size(), kStartBytes) << Narrow(seed.name);
            seed.header = kStartBytes + static_cast<size_t>(Get64(seed.bytes, kNextOffset));
            ASSERT_EQ(seed.header + Get64(seed.bytes, kNextSize), seed.bytes.size());
            // 0x01 starts a plain header, 0x17 a packed one.
            ASSERT_EQ(seed.bytes[seed.header], seed.plainHeader ? '\x01' : '\x17');
        }
    }
    void TearDown() override { RemoveTree(scratch_); }

    // Extracts bytes into a fresh destination and removes it again; wrote tells whether
    // anything had landed in it.
    bool Extract(const std::string& bytes, bool* wrote = nullptr) {
        EXPECT_TRUE(WriteFileBytes(archive_, bytes));
        EXPECT_TRUE(CreateDirectoryW(dest_.c_str(), nullptr));
        bool extracted = ExtractArchive(archive_.c_str(), dest_.c_str());
        if (wrote != nullptr) *wrote = !RemoveDirectoryW(dest_.c_str());
        RemoveTree(dest_);
        EXPECT_FALSE(PathExists(dest_));
        return extracted;
    }

    std::set<std::wstring> Outside() {
        std::set<std::wstring> names;
        ListTree(scratch_, L"", dest_, names);
        return names;
    }

    const std::wstring scratch_ = MakeScratchDir(L"arcfuzz");
    const std::wstring archive_ = scratch_ + L"\\case.7z";
    const std::wstring dest_ = scratch_ + L"\\nest\\dest";
    // Seven entries each: emptydir, sub, sub/deeper, empty.dat, a.txt, sub/b.txt,
    // sub/deeper/c.bin.
    Seed seeds_[3] = {{L"solid-lzma2", true, 7, {}},
                      {L"nonsolid-lzma", true, 7, {}},
                      {L"packed-header", false, 7, {}}};
};

TEST_F(ArchiveFuzz, SeededMutationsNeitherCrashNorEscapeNorLeak) {
    // The seeds themselves extract. The trace's first use opens a handle that the test
    // framework keeps for the thread, so it comes before the handles are counted.
    for (const Seed& seed : seeds_) {
        SCOPED_TRACE(Narrow(seed.name));
        ASSERT_TRUE(Extract(seed.bytes));
    }
    const std::set<std::wstring> outside = Outside();
    ASSERT_EQ(outside, (std::set<std::wstring>{L"case.7z", L"nest\\"}));
    ASSERT_TRUE(HandleCountFollowsHandles());
    const size_t handles = ProcessHandleCount();

    FuzzRandom random(7101);
    int extracted = 0, refusedAfterWriting = 0;
    for (int i = 0; i < kCases && !HasFailure(); ++i) {
        SCOPED_TRACE("archive case " + std::to_string(i));
        const Seed& seed = seeds_[i % 3];
        std::string bytes = seed.bytes;
        MutateOnce(random, seed, bytes);
        if (random.OneIn(4)) MutateOnce(random, seed, bytes);
        ULONGLONG start = GetTickCount64();
        bool wrote = false;
        if (Extract(bytes, &wrote)) {
            ++extracted;
        } else if (wrote) {
            ++refusedAfterWriting;
        }
        EXPECT_LT(GetTickCount64() - start, kFuzzCaseBoundMs);
        EXPECT_EQ(Outside(), outside);
    }
    EXPECT_EQ(ProcessHandleCount(), handles);

    std::printf("archive cases: %d, extracted fully %d, refused %d (%d after writing files)\n",
                kCases, extracted, kCases - extracted, refusedAfterWriting);
    EXPECT_GT(extracted, 0);
    EXPECT_LT(extracted, kCases);
}

}  // namespace
