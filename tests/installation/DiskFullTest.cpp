// A patch on a disk that fills up while its files are copied in, through the seams build of
// the bridge on a small tmpfs that a fixture mounted: the installation is left as it was,
// and the next start, with room made, completes the patch. The work area sits beside
// bin\ by design, so the unpacked patch and the backups fill the same disk.
#include <gtest/gtest.h>

#include <map>

#include "installation/SeamGame.h"
#include "support/TestPaths.h"
#include "support/TreeDigest.h"

namespace {

constexpr ULONGLONG kPage = 4096;  // tmpfs allocates whole pages
ULONGLONG Pages(size_t bytes) { return (bytes + kPage - 1) / kPage * kPage; }

ULONGLONG FreeBytes(const std::wstring& dir) {
    ULARGE_INTEGER available = {};
    GetDiskFreeSpaceExW(dir.c_str(), &available, nullptr, nullptr);
    return available.QuadPart;
}

bool WriteZeros(const std::wstring& path, ULONGLONG size) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string zeros(65536, '\0');
    bool written = true;
    for (ULONGLONG left = size; written && left > 0;) {
        DWORD chunk = static_cast<DWORD>(left < zeros.size() ? left : zeros.size());
        DWORD done = 0;
        written = WriteFile(file, zeros.data(), chunk, &done, nullptr) && done == chunk;
        left -= chunk;
    }
    CloseHandle(file);
    return written;
}

TEST(DiskFull, APatchOutOfSpaceChangesNothingAndCompletesOnceThereIsRoom) {
    const std::wstring disk = ArtifactDir() + L"\\small_disk";
    if (!PathExists(disk + L"\\mounted"))
        GTEST_SKIP() << "no small disk: not root, or the tmpfs mount was refused";
    ReleaseServer server(true);
    ASSERT_TRUE(server.Listen());
    SeamGame game(disk);
    game.LayRelease("A");

    // Room for the download, the unpacked patch, the backups and the journal, and for half
    // of what copying the patch in adds to bin\.
    std::map<std::string, std::string> a = FileTreeBytes(ReleaseFixture("A"));
    ULONGLONG before = Pages(ReadFileBytes(ReleaseFixture("patch_AB.7z")).size()) + 16 * kPage;
    ULONGLONG copyAdds = 0;
    for (const auto& [name, bytes] : FileTreeBytes(ReleaseFixture("patch"))) {
        before += Pages(bytes.size());
        ULONGLONG old = a.count(name) ? Pages(a[name].size()) : 0;
        before += old;  // its backup
        if (Pages(bytes.size()) > old) copyAdds += Pages(bytes.size()) - old;
    }
    const ULONGLONG room = before + copyAdds / 2;
    const ULONGLONG free = FreeBytes(game.Path());
    ASSERT_GT(free, room + copyAdds) << "the small disk is too small";
    const std::wstring filler = disk + L"\\filler";
    ASSERT_TRUE(WriteZeros(filler, free - room));

    Lines log = CountingRun(game);
    bool journaled = false;
    for (const std::string& line : log)
        journaled = journaled || line.find("\\journal") != std::string::npos;
    EXPECT_TRUE(journaled) << "the run ran out of space before its journaled copy";
    EXPECT_EQ(game.Installed(), "A") << TreeListing(game.File("bin"));
    EXPECT_EQ(game.Version(), "1.0");
    EXPECT_FALSE(game.HasJournal());
    EXPECT_EQ(game.CoreTrees(), Lines{ReleaseDigest("A")});

    DeleteFileW(filler.c_str());
    Lines out = game.Start("room.out");
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(game.Installed(), "B") << TreeListing(game.File("bin"));
    EXPECT_EQ(game.Version(), "1.1");
    EXPECT_FALSE(game.HasJournal());
    EXPECT_EQ(game.CoreTrees(), (Lines{ReleaseDigest("A"), ReleaseDigest("B")}));
}

}  // namespace
