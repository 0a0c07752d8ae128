// A patch, and a full install, on a disk that fills up while the files are copied in,
// through the seams build of the bridge on a small tmpfs that a fixture mounted: the
// installation is left as it was, and the next start, with room made, completes it. The work area
// sits beside bin\ by design, so the unpacked patch and the backups fill the same disk.
#include <gtest/gtest.h>

#include <map>

#include "installation/SeamGame.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestDigest.h"
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

struct Scenario {
    const char* what;
    bool patch;  // A installed and patched to B; else nothing installed, A's package comes
} const kScenarios[] = {{"patch A->B", true}, {"full install of A", false}};

TEST(DiskFull, AnUpdateOutOfSpaceChangesNothingAndCompletesOnceThereIsRoom) {
    const std::wstring disk = ArtifactDir() + L"\\small_disk";
    if (!PathExists(disk + L"\\mounted"))
        GTEST_SKIP() << "no small disk: not root, or the tmpfs mount was refused";
    for (const Scenario& s : kScenarios) {
        SCOPED_TRACE(s.what);
        ReleaseServer server(s.patch);
        ASSERT_TRUE(server.Listen());
        SeamGame game(disk);
        if (s.patch) game.LayRelease("A");
        const char* before = s.patch ? "A" : "";
        const char* after = s.patch ? "B" : "A";

        // Room for the download, the unpacked archive, the backups and the journal, and for
        // half of what copying the archive in adds to bin\.
        std::map<std::string, std::string> installed;
        if (s.patch) installed = FileTreeBytes(ReleaseFixture("A"));
        ULONGLONG room =
            Pages(ReadFileBytes(ReleaseFixture(s.patch ? "patch_AB.7z" : "package_A.7z")).size()) +
            16 * kPage;
        ULONGLONG copyAdds = 0;
        for (const auto& [name, bytes] : FileTreeBytes(ReleaseFixture(s.patch ? "patch" : "A"))) {
            ULONGLONG old = installed.count(name) ? Pages(installed[name].size()) : 0;
            room += Pages(bytes.size()) + old;  // staged, and its backup
            if (Pages(bytes.size()) > old) copyAdds += Pages(bytes.size()) - old;
        }
        room += copyAdds / 2;
        const ULONGLONG free = FreeBytes(game.Path());
        ASSERT_GT(free, room + copyAdds / 2) << "the small disk is too small";
        const std::wstring filler = disk + L"\\filler";
        ASSERT_TRUE(WriteZeros(filler, free - room));

        Lines log = CountingRun(game);
        bool journaled = false;
        for (const std::string& line : log)
            journaled = journaled || line.find("\\journal") != std::string::npos;
        EXPECT_TRUE(journaled) << "the run ran out of space before its journaled copy";
        EXPECT_EQ(game.Installed(s.patch), before) << TreeListing(game.File("bin"));
        EXPECT_EQ(game.Version(), s.patch ? "1.0" : "");
        EXPECT_FALSE(game.HasJournal());
        Lines trees;
        if (s.patch) trees.push_back(ReleaseDigest("A"));
        EXPECT_EQ(game.CoreTrees(), trees);

        DeleteFileW(filler.c_str());
        Lines out = game.Start("room.out");
        ASSERT_EQ(out.size(), 4u);
        EXPECT_EQ(game.Installed(s.patch), after) << TreeListing(game.File("bin"));
        EXPECT_EQ(game.Version(), s.patch ? "1.1" : "1.0");
        EXPECT_FALSE(game.HasJournal());
        trees.push_back(ReleaseDigest(after, s.patch));
        EXPECT_EQ(game.CoreTrees(), trees);
    }
}

}  // namespace

// A repair whose download finds the disk full keeps the damaged file as it was (no copy of
// it is lost, nothing half written replaces it) and mends it once there is room.
TEST(DiskFull, ARepairOutOfSpaceKeepsTheFileAndMendsItOnceThereIsRoom) {
    const std::wstring disk = ArtifactDir() + L"\\small_disk";
    if (!PathExists(disk + L"\\mounted"))
        GTEST_SKIP() << "no small disk: not root, or the tmpfs mount was refused";
    // Large enough that half its size leaves the logs room, but not the download.
    const std::string name = "data\\big.bin";
    std::string good;
    for (int i = 0; good.size() < 256 * 1024; ++i) good += "block " + std::to_string(i) + "\n";
    const std::string list = "<root version=\"1.0\"><file name=\"" + name + "\" md5=\"" +
                             Md5Text(good) +
                             "\" remote_file_url=\"http://127.0.0.1:8008/files/music\"/></root>";
    LoopbackHttpServer server;
    server.SetHandler([&](const ReceivedRequest& request) {
        if (request.target.rfind("/version.xml?", 0) == 0)
            return ScriptedResponse::Ok(
                "<root start=\"1\" url=\"http://h/p.7z\" version=\"1.0\"/>");
        if (request.target.rfind("/g_file_check_list.xml?", 0) == 0)
            return ScriptedResponse::Ok(list);
        if (request.target == "/files/music") return ScriptedResponse::Ok(good);
        return ScriptedResponse::WithStatus(404, "Not Found", "");
    });
    ASSERT_TRUE(server.Start(8008));
    SeamGame game(disk);
    game.LayRelease("A");
    const std::string damaged(good.size(), 'x');
    ASSERT_TRUE(WriteFileBytes(game.File("bin\\" + name), damaged));

    const std::wstring filler = disk + L"\\filler";
    ASSERT_TRUE(WriteZeros(filler, FreeBytes(game.Path()) - Pages(good.size()) / 2));
    game.Start("full.out");
    EXPECT_EQ(ReadFileBytes(game.File("bin\\" + name)), damaged);
    EXPECT_FALSE(game.Lines("bx.log").empty());  // the failed tries
    EXPECT_FALSE(PathExists(game.File("OrvexBridge.update")));

    DeleteFileW(filler.c_str());
    game.Start("room.out");
    EXPECT_EQ(ReadFileBytes(game.File("bin\\" + name)), good);
    EXPECT_FALSE(PathExists(game.File("OrvexBridge.update")));
}
