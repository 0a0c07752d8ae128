// The update run end to end: the real DLL in host processes, a real update server on the
// update port, and the gate that the manifest's start value opens or keeps shut.
#include <gtest/gtest.h>

#include <windows.h>

#include "support/GameDir.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestPaths.h"

namespace {

using Lines = std::vector<std::string>;

std::string ManifestStarting(const char* start) {
    return std::string(
               "<root start=\"1\" url=\"http://127.0.0.1:8008/p.7z\" version=\"2\">"
               "<game name=\"7\"><area name=\"30\" group=\"2\" start=\"") +
           start + "\"/></game></root>";
}

TEST(UpdateResult, StartZeroKeepsTheCoreFromLoading) {
    for (const char* start : {"0", "01", " 1", ""}) {
        LoopbackHttpServer server;
        ASSERT_TRUE(server.Start(8008));
        server.Respond(ScriptedResponse::Ok(ManifestStarting(start)));
        GameDir game;
        // The game renders on through the whole run, and a while after it reported.
        HANDLE host = game.StartHost(
            {"load", "init:1234:7:9:30:2", "renderuntil:dx9:go:0:60000", "waitcore:dx9:1500"},
            "host.out");
        // No local version: the manifest, then the package it names.
        EXPECT_TRUE(WaitUntil([&] { return server.RequestCount() >= 2; }, 60000));
        EXPECT_TRUE(game.WaitForNoUpdateRun(60000));
        WriteFileBytes(game.File("go"), "");
        Lines out = game.Wait(host, "host.out");
        ASSERT_EQ(out.size(), 4u);
        EXPECT_EQ(out[3], "waitcore absent") << "start=\"" << start << "\"";
        std::vector<ReceivedRequest> requests = server.Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[1].target.compare(0, 11, "/p.7z?rand="), 0) << requests[1].target;
        EXPECT_TRUE(game.CoreCalls().empty());
    }
}

TEST(UpdateResult, StartOneLetsTheCoreLoad) {
    LoopbackHttpServer server;
    ASSERT_TRUE(server.Start(8008));
    server.Respond(ScriptedResponse::Ok(ManifestStarting("1")));
    GameDir game;
    WriteFileBytes(game.File("version.bin"), "[conf]\r\nversion=2\r\n");
    Lines out = game.RunHost({"load", "init:1234:7:9:30:2", "waitcore:dx9:20000"});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2], "waitcore loaded");
    // Versions equal: the check list follows the manifest.
    std::vector<ReceivedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target.compare(0, 18, "/version.xml?tick="), 0);
    EXPECT_EQ(requests[0].Header("User-Agent"), "WinHTTP HttpSession/1.0");
    EXPECT_EQ(requests[1].target.compare(0, 28, "/g_file_check_list.xml?tick="), 0);
    EXPECT_TRUE(game.Lines("bx.log").empty());  // version known, manifest read
}

TEST(UpdateResult, UnreachableServerLogsThreeFailuresAndTheCoreStillLoads) {
    GameDir game;
    Lines out = game.RunHost({"load", "init:1234:7:9:30:2", "waitcore:dx9:20000"});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2], "waitcore loaded");
    Lines expected = {"unknown current_version", "update version DownloadFile failed(12029)",
                      "update version DownloadFile failed(12029)",
                      "update version DownloadFile failed(12029)"};
    EXPECT_EQ(game.Lines("bx.log"), expected);
}

// An update server whose manifest answers (start "1") wait until Release(): a game's
// update stays running meanwhile. Released and stopped in any case when it goes.
class HeldManifestServer {
  public:
    HeldManifestServer() : release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        HANDLE release = release_;
        server_.SetHandler([release](const ReceivedRequest&) {
            WaitForSingleObject(release, 30000);
            return ScriptedResponse::Ok(ManifestStarting("1"));
        });
    }
    ~HeldManifestServer() {
        Release();
        server_.Stop();
        CloseHandle(release_);
    }
    HeldManifestServer(const HeldManifestServer&) = delete;
    HeldManifestServer& operator=(const HeldManifestServer&) = delete;

    bool Start() { return release_ != nullptr && server_.Start(8008); }
    void Release() { SetEvent(release_); }
    size_t RequestCount() const { return server_.RequestCount(); }

  private:
    HANDLE release_;
    LoopbackHttpServer server_;
};

// Two games of one installation started one after the other: the second waits for the
// first one's update, then loads.
TEST(UpdateResult, SecondGameWaitsForTheFirstGamesUpdate) {
    HeldManifestServer server;
    ASSERT_TRUE(server.Start());
    GameDir game;
    HANDLE first = game.StartHost(
        {"load", "init:1234:7:9:30:2", "signal:first-initialised", "waitcore:dx9:30000"},
        "first.out");
    ASSERT_TRUE(WaitUntil([&] { return PathExists(game.File("first-initialised")); }, 60000));
    ASSERT_TRUE(WaitUntil([&] { return server.RequestCount() == 1; }, 30000));
    HANDLE second =
        game.StartHost({"load", "init:1234:7:9:30:2", "waitcore:dx9:1500", "signal:second-waited",
                        "waitfile:go:30000", "waitcore:dx9:30000"},
                       "second.out");
    ASSERT_TRUE(WaitUntil([&] { return PathExists(game.File("second-waited")); }, 60000));
    Lines secondSoFar = game.Lines("second.out");
    ASSERT_GE(secondSoFar.size(), 3u);
    EXPECT_EQ(secondSoFar[2], "waitcore absent");
    EXPECT_TRUE(game.CoreCalls().empty());

    server.Release();  // the first game's update ends
    WriteFileBytes(game.File("go"), "");
    Lines firstOut = game.Wait(first, "first.out");
    ASSERT_EQ(firstOut.size(), 4u);
    EXPECT_EQ(firstOut[3], "waitcore loaded");
    Lines secondOut = game.Wait(second, "second.out");
    ASSERT_EQ(secondOut.size(), 6u);
    EXPECT_EQ(secondOut[5], "waitcore loaded");
    EXPECT_EQ(Starting(game.CoreCalls(), "OrvexInitialize").size(), 2u);
}

// Terminal and initialise again while the first run still waits for the server: no second
// run starts on the same state, and the first one still reports.
TEST(UpdateResult, InitialisingAgainDuringARunStartsNoSecondRun) {
    HeldManifestServer server;
    ASSERT_TRUE(server.Start());
    GameDir game;
    HANDLE host = game.StartHost({"load", "init:1234:7:9:30:2", "terminal", "init:1234:7:9:30:2",
                                  "signal:again", "waitcore:dx9:30000"},
                                 "host.out");
    ASSERT_TRUE(WaitUntil([&] { return PathExists(game.File("again")); }, 60000));
    ASSERT_TRUE(WaitUntil([&] { return server.RequestCount() >= 1; }, 30000));
    server.Release();
    Lines out = game.Wait(host, "host.out");
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out[3].compare(0, 7, "init 0 "), 0) << out[3];
    EXPECT_EQ(out[5], "waitcore loaded");
    EXPECT_EQ(game.Lines("game_info.log").size(), 1u);
}

// A game that unloads the bridge while its updater still waits for the server: the thread
// keeps the library mapped until it is done, then lets it go.
TEST(UpdateResult, UnloadWhileTheUpdaterRunsIsSafe) {
    HeldManifestServer server;
    ASSERT_TRUE(server.Start());
    GameDir game;
    HANDLE host = game.StartHost({"load", "init:1234:7:9:30:2", "unload", "loaded",
                                  "signal:unloaded", "waitfile:go:60000", "waitunloaded:60000"},
                                 "host.out");
    ASSERT_TRUE(WaitUntil([&] { return PathExists(game.File("unloaded")); }, 60000));
    EXPECT_TRUE(WaitUntil([&] { return server.RequestCount() >= 1; }, 60000));
    server.Release();
    WriteFileBytes(game.File("go"), "");
    Lines out = game.Wait(host, "host.out");
    Lines expected = {"load ok",       out.size() > 1 ? out[1] : "",
                      "unload 1",      "loaded 1",
                      "signal",        "waitfile 1",
                      "waitunloaded 1"};
    EXPECT_EQ(out, expected);
    EXPECT_EQ(game.Lines("game_info.log").size(), 1u);
}

}  // namespace
