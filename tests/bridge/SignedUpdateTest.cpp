// Signed updates through the bridge built with the test key, in a host process, against the
// trees the publisher signed with that key: it installs, patches and repairs from them, and
// refuses a document whose signature is wrong, missing or another document's, a payload that
// is not the one the signed documents name, and a signed manifest without digests, each time
// with the installation as it was.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "SignedGame.h"
#include "support/LoopbackHttpServer.h"
#include "support/PathUtils.h"
#include "support/ServedTree.h"
#include "support/TestDigest.h"
#include "support/TestPaths.h"

namespace {

using Lines = std::vector<std::string>;
const Lines kRun = {"load", "init:1234:7:9:30:2", "waitcore:dx9:20000"};
const std::string kManifestRefused = "signature refused (http://127.0.0.1:8008/version.xml)";
const std::string kListMismatch =
    "checklist_sha256 mismatch (http://127.0.0.1:8008/g_file_check_list.xml)";

TEST(SignedUpdate, InstallsPatchesAndRepairsFromSignedTrees) {
    LoopbackHttpServer server;
    ASSERT_TRUE(server.Start(8008));
    SignedGame game("");

    ServeTree(server, SignedFixture(L"tree1"));
    Lines out = game.RunHost(kRun, "install.out");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2], "waitcore loaded");
    ExpectInstalled(game, L"1.0.0");
    EXPECT_EQ(game.Lines("bx.log"), Lines{"unknown current_version"});
    Lines paths = RequestPathsSince(server, 0);
    EXPECT_EQ(CountStarting(paths, "/version.xml.sig"), 1u);
    EXPECT_EQ(CountStarting(paths, "/packages/"), 1u);

    size_t before = server.RequestCount();
    ServeTree(server, SignedFixture(L"tree2"));
    out = game.RunHost(kRun, "patch.out");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2], "waitcore loaded");
    ExpectInstalled(game, L"1.0.1");
    EXPECT_EQ(CountStarting(RequestPathsSince(server, before), "/patches/"), 1u);
    EXPECT_TRUE(game.Lines("bx.log").empty());

    before = server.RequestCount();
    ASSERT_TRUE(WriteFileBytes(game.File("bin\\data\\level.dat"), "damaged"));
    out = game.RunHost(kRun, "repair.out");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2], "waitcore loaded");
    ExpectInstalled(game, L"1.0.1");
    paths = RequestPathsSince(server, before);
    // The check list is the one the signed manifest names: its own signature is not needed.
    EXPECT_EQ(CountStarting(paths, "/g_file_check_list.xml"), 1u);
    EXPECT_EQ(CountStarting(paths, "/files/"), 1u);
    EXPECT_TRUE(game.Lines("bx.log").empty());
}

enum class Start { CoreWithoutVersion, Version100, DamagedVersion101 };
enum class Change { None, Missing, FlippedBit, Replaced };

struct Refusal {
    const char* what;
    Start start;
    const wchar_t* tree;
    const char* path;  // the answers changed: those to request paths starting with it
    Change change;
    const wchar_t* replacement;  // for Replaced: the fixture file served instead
    size_t payloads;             // requests for packages, patches and repair files
    Lines log;                   // bx.log, each line's start
};

Lines Times(int count, const Lines& lines) {
    Lines out;
    for (int i = 0; i < count; ++i) out.insert(out.end(), lines.begin(), lines.end());
    return out;
}

AnswerChange Applying(const Refusal& r) {
    return [r](const std::string& path, ScriptedResponse answer) {
        if (r.change == Change::None || path.compare(0, std::strlen(r.path), r.path) != 0)
            return answer;
        if (r.change == Change::Missing) return ScriptedResponse::WithStatus(404, "Not Found", "");
        if (r.change == Change::Replaced)
            return ScriptedResponse::Ok(ReadFileBytes(SignedFixture(r.replacement)));
        if (!answer.body.empty()) answer.body.back() ^= 1;
        return answer;
    };
}

TEST(SignedUpdate, RefusesWhatTheKeyDoesNotCoverAndChangesNothing) {
    const Refusal cases[] = {
        {"a manifest signature with one bit changed", Start::Version100, L"tree2",
         "/version.xml.sig", Change::FlippedBit, nullptr, 0, Times(3, {kManifestRefused})},
        {"no manifest signature", Start::Version100, L"tree2", "/version.xml.sig", Change::Missing,
         nullptr, 0, Times(3, {kManifestRefused})},
        {"the check list's signature as the manifest's", Start::Version100, L"tree2",
         "/version.xml.sig", Change::Replaced, L"tree2\\g_file_check_list.xml.sig", 0,
         Times(3, {kManifestRefused})},
        // One snapshot: the fresh manifest names its own check list, not a validly signed
        // older one (which would "repair" files back to the old release).
        {"the older release's signed check list", Start::DamagedVersion101, L"tree2",
         "/g_file_check_list.xml", Change::Replaced, L"tree1\\g_file_check_list.xml", 0,
         Times(3, {kListMismatch})},
        {"another archive as the package",
         Start::CoreWithoutVersion,
         L"tree1",
         "/packages/",
         Change::Replaced,
         L"evil\\package.7z",
         1,
         {"unknown current_version", "sha256 mismatch (http://127.0.0.1:8008/packages/"}},
        {"another archive as the patch",
         Start::Version100,
         L"tree2",
         "/patches/",
         Change::Replaced,
         L"evil\\package.7z",
         1,
         {"sha256 mismatch (http://127.0.0.1:8008/patches/"}},
        {"other bytes as the repair file", Start::DamagedVersion101, L"tree2", "/files/",
         Change::Replaced, L"evil\\file", 3,
         Times(3, {"sha256 mismatch (http://127.0.0.1:8008/files/",
                   "get file check list failed(23)"})},
        {"a signed manifest without sha256",
         Start::Version100,
         L"tree2_nosha",
         "",
         Change::None,
         nullptr,
         0,
         {"update version entry without sha256"}},
        {"an area's url without its own sha256",
         Start::Version100,
         L"tree2_areaurl",
         "",
         Change::None,
         nullptr,
         0,
         {"update version entry without sha256"}},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.what);
        LoopbackHttpServer server;
        ASSERT_TRUE(server.Start(8008));
        ServeTree(server, SignedFixture(c.tree), Applying(c));
        SignedGame game;
        if (c.start != Start::CoreWithoutVersion)
            game.Lay(c.start == Start::Version100 ? L"1.0.0" : L"1.0.1");
        if (c.start == Start::DamagedVersion101) {
            ASSERT_TRUE(WriteFileBytes(game.File("bin\\data\\level.dat"), "damaged"));
        }
        const std::map<std::string, std::string> before = game.Installation();

        Lines out = game.RunHost(kRun);
        ASSERT_EQ(out.size(), 3u);
        // The start value stays as when nothing could be read, so the installed core starts.
        EXPECT_EQ(out[2], "waitcore loaded");
        EXPECT_EQ(game.Installation(), before);
        EXPECT_EQ(PayloadRequests(RequestPathsSince(server, 0)), c.payloads);
        Lines log = game.Lines("bx.log");
        EXPECT_EQ(log.size(), c.log.size());
        for (size_t i = 0; i < log.size() && i < c.log.size(); ++i)
            EXPECT_EQ(log[i].compare(0, c.log[i].size(), c.log[i]), 0) << log[i];
        EXPECT_FALSE(PathExists(TempFile(L"game_orvex_version_file.xml.sig")));
        EXPECT_FALSE(PathExists(TempFile(L"g_file_check_list.xml.sig")));
    }
}

}  // namespace
