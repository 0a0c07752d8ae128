// What a keyed bridge trusts beyond a good signature, through the real DLL in host processes:
// a signed manifest older than one the installation accepted is refused (no payload, nothing
// changed, the core still starts), a package left beside the bridge is unpacked only when the
// manifest verified in this run names its digest, any of the bridge's keys may sign, and what
// other processes write to the temporary directory is never read.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "SignedGame.h"
#include "support/LoopbackHttpServer.h"
#include "support/PathUtils.h"
#include "support/ScopedHandle.h"
#include "support/ServedTree.h"
#include "support/TestPaths.h"

namespace {

using Lines = std::vector<std::string>;
const Lines kRun = {"load", "init:1234:7:9:30:2", "waitcore:dx9:20000"};
const std::string kManifestUrl = "http://127.0.0.1:8008/version.xml";

struct Start {
    Lines out;
    Lines log;
    size_t payloads = 0;
};

// One start of game against tree (answers changed by change), with a fresh log.
Start RunOn(SignedGame& game, LoopbackHttpServer& server, const wchar_t* tree,
            AnswerChange change = nullptr) {
    ServeTree(server, SignedFixture(tree), change);
    const size_t before = server.RequestCount();
    DeleteFileW(game.File("bx.log").c_str());
    Start run;
    run.out = game.RunHost(kRun);
    run.log = game.Lines("bx.log");
    run.payloads = PayloadRequests(RequestPathsSince(server, before));
    return run;
}

std::string CoreState(const Start& run) { return run.out.size() == 3 ? run.out[2] : "no output"; }

size_t CountLines(const Lines& lines, const std::string& start) {
    return CountStarting(lines, start);
}

TEST(SignedFreshness, AManifestOlderThanTheAcceptedOneIsRefused) {
    LoopbackHttpServer server;
    ASSERT_TRUE(server.Start(8008));

    // The replayed fixture on its own: it would switch the core off.
    SignedGame fresh;
    fresh.Lay(L"1.0.0");
    EXPECT_NE(CoreState(RunOn(fresh, server, L"tree_off")), "waitcore loaded");

    SignedGame game;
    game.Lay(L"1.0.0");
    // The serial is recorded as soon as the manifest is verified, whatever the run then does.
    Start run = RunOn(game, server, L"tree2", [](const std::string& path, ScriptedResponse answer) {
        return path.compare(0, 9, "/patches/") == 0
                   ? ScriptedResponse::WithStatus(404, "Not Found", "")
                   : answer;
    });
    EXPECT_EQ(Field(game.Lines("version.bin").at(1), "version"), "1.0.0");
    EXPECT_EQ(Field(game.Lines("serial.bin").at(1), "serial"), "5");
    run = RunOn(game, server, L"tree2");
    ExpectInstalled(game, L"1.0.1");
    const auto installed = game.Installation();

    // Older signed manifests replayed: the release before (it would move the game back) and
    // one that switched the core off.
    const struct {
        const wchar_t* tree;
        const char* refusal;
    } replays[] = {{L"tree1", "update version serial refused (4 < 5)"},
                   {L"tree_off", "update version serial refused (3 < 5)"}};
    for (const auto& replay : replays) {
        SCOPED_TRACE(Narrow(replay.tree));
        run = RunOn(game, server, replay.tree);
        EXPECT_EQ(CoreState(run), "waitcore loaded");
        EXPECT_EQ(run.log, Lines(3, replay.refusal));
        EXPECT_EQ(run.payloads, 0u);
        EXPECT_EQ(game.Installation(), installed);
        EXPECT_EQ(Field(game.Lines("serial.bin").at(1), "serial"), "5");
    }

    // The same manifest again is accepted.
    run = RunOn(game, server, L"tree2");
    EXPECT_EQ(CoreState(run), "waitcore loaded");
    EXPECT_TRUE(run.log.empty());
    EXPECT_EQ(game.Installation(), installed);
}

TEST(SignedFreshness, APendingPackageIsUnpackedOnlyWhenTheVerifiedManifestNamesIt) {
    const auto packages = FileTreeBytes(SignedFixture(L"tree1\\packages"));
    ASSERT_EQ(packages.size(), 1u);
    const std::string name = packages.begin()->first;
    const std::wstring studioPackage =
        L"tree1\\packages\\" + std::wstring(name.begin(), name.end());
    const struct {
        const char* what;
        std::wstring pending;
        bool served;
        size_t payloads;   // the package downloaded after all
        size_t refusals;   // "pending package refused" lines
        bool installed;    // 1.0.0 in bin afterwards
        bool pendingKept;  // left for a run that can verify it
    } cases[] = {
        {"another archive", L"evil\\package.7z", true, 1, 1, true, false},
        {"the package the manifest names", studioPackage, true, 0, 0, true, false},
        {"no manifest verified", L"evil\\package.7z", false, 0, 0, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LoopbackHttpServer server;
        if (c.served) {
            ASSERT_TRUE(server.Start(8008));
        }
        SignedGame game("");
        ASSERT_TRUE(CopyFileW(SignedFixture(c.pending).c_str(),
                              game.File("orvex_packet.7z").c_str(), FALSE));
        Start run = RunOn(game, server, L"tree1");
        EXPECT_EQ(run.payloads, c.payloads);
        EXPECT_EQ(CountLines(run.log, "pending package refused (sha256 mismatch)"), c.refusals);
        if (c.installed) {
            ExpectInstalled(game, L"1.0.0");
        } else {
            EXPECT_FALSE(PathExists(game.File("bin\\Orvex.dll")));
        }
        EXPECT_EQ(PathExists(game.File("orvex_packet.7z")), c.pendingKept);
    }
}

TEST(SignedFreshness, AnyOfTheBridgesKeysMaySign) {
    // The bridge built with keys A and B; tree1_b and tree1_c are tree1 signed with B and C.
    const struct {
        const wchar_t* tree;
        bool accepted;
    } cases[] = {{L"tree1", true}, {L"tree1_b", true}, {L"tree1_c", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.tree));
        LoopbackHttpServer server;
        ASSERT_TRUE(server.Start(8008));
        SignedGame game("", L"signed2");
        Start run = RunOn(game, server, c.tree);
        EXPECT_EQ(run.payloads, c.accepted ? 1u : 0u);
        if (c.accepted) {
            ExpectInstalled(game, L"1.0.0");
            EXPECT_EQ(CoreState(run), "waitcore loaded");
        } else {
            EXPECT_EQ(CountLines(run.log, "signature refused (" + kManifestUrl + ")"), 3u);
            EXPECT_FALSE(PathExists(game.File("bin\\Orvex.dll")));
        }
    }
}

TEST(SignedFreshness, WhatOthersWriteToTheTemporaryDirectoryIsNeverRead) {
    // Earlier builds downloaded the documents under these names; another process keeps
    // writing validly signed but stale ones there while the game updates.
    const struct {
        const wchar_t* name;
        const wchar_t* bytes;
    } planted[] = {
        {L"game_orvex_version_file.xml", L"tree_off\\version.xml"},
        {L"game_orvex_version_file.xml.sig", L"tree_off\\version.xml.sig"},
        {L"g_file_check_list.xml", L"tree1\\g_file_check_list.xml"},
        {L"g_file_check_list.xml.sig", L"tree1\\g_file_check_list.xml.sig"},
    };
    ScopedKernelHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(stop.Valid());
    std::thread writer([&] {
        do {
            for (const auto& p : planted)
                WriteFileBytes(TempFile(p.name), ReadFileBytes(SignedFixture(p.bytes)));
        } while (WaitForSingleObject(stop.Get(), 1) == WAIT_TIMEOUT);
    });

    LoopbackHttpServer server;
    ASSERT_TRUE(server.Start(8008));
    SignedGame game;
    game.Lay(L"1.0.1");
    ASSERT_TRUE(WriteFileBytes(game.File("bin\\data\\settings.ini"), "damaged"));
    Start run = RunOn(game, server, L"tree2");
    SetEvent(stop.Get());
    writer.join();
    for (const auto& p : planted) DeleteFileW(TempFile(p.name).c_str());

    EXPECT_EQ(CoreState(run), "waitcore loaded");
    EXPECT_TRUE(run.log.empty());
    ExpectInstalled(game, L"1.0.1");  // the damaged file repaired
}

}  // namespace
