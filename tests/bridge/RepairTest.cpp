// Repair through the real DLL in a host process: the installed version equals the manifest's,
// so the run checks the installation against the list and mends the damaged files.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/FileDigest.h"
#include "support/GameDir.h"
#include "support/LoopbackHttpServer.h"
#include "support/ScopedEnvironment.h"
#include "support/TestDigest.h"
#include "support/TestPaths.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kGood = "level data, version 2\n";
const std::string kDeadline = "repair pass deadline reached(";

std::string Entry(const std::string& name, const std::string& md5, const std::string& url) {
    return "<file name=\"" + name + "\" md5=\"" + md5 + "\" remote_file_url=\"" + url + "\"/>";
}

// The list's entry for the intact core module.
std::string CoreEntry(const GameDir& game) {
    char md5[33] = {};
    Md5OfFile(md5, game.File("bin\\Orvex.dll").c_str());
    return Entry("Orvex.dll", md5, "http://127.0.0.1:8008/files/Orvex.dll");
}

// The update server's documents: version 2, the installed one, and the check list.
ScriptedResponse Documents(const ReceivedRequest& request, const std::string& list) {
    if (request.target.rfind("/version.xml?", 0) == 0)
        return ScriptedResponse::Ok("<root start=\"1\" url=\"http://h/p.7z\" version=\"2\"/>");
    if (request.target.rfind("/g_file_check_list.xml?", 0) == 0) return ScriptedResponse::Ok(list);
    return ScriptedResponse::WithStatus(404, "Not Found", "");
}

TEST(RepairEndToEnd, OneDamagedFileOfTwoIsRepaired) {
    GameDir game;
    WriteFileBytes(game.File("version.bin"), "[conf]\r\nversion=2\r\n");
    CreateDirectoryW(game.File("bin\\data").c_str(), nullptr);
    WriteFileBytes(game.File("bin\\data\\level.dat"), "damaged");
    const std::string list =
        "<root version=\"2\">" + CoreEntry(game) +
        Entry("data\\level.dat", Md5Text(kGood), "http://127.0.0.1:8008/files/level.dat") +
        "</root>";

    LoopbackHttpServer server;
    ASSERT_TRUE(server.Start(8008));
    server.SetHandler([&list](const ReceivedRequest& request) {
        if (request.target == "/files/level.dat") return ScriptedResponse::Ok(kGood);
        return Documents(request, list);
    });
    Lines out = game.RunHost({"load", "init:1234:7:9:30:2", "waitcore:dx9:20000"});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2], "waitcore loaded");  // the result is reported after the repair

    EXPECT_EQ(ReadFileBytes(game.File("bin\\data\\level.dat")), kGood);
    std::vector<ReceivedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].target.compare(0, 28, "/g_file_check_list.xml?tick="), 0);
    EXPECT_EQ(requests[2].target, "/files/level.dat");
    EXPECT_TRUE(game.Lines("bx.log").empty());
}

// A first instance repairs under the installation's lock; against a host that takes every
// request and never answers, the pass ends at its deadline, so a game started meanwhile
// (which waits for that lock) loads the intact installation soon after.
TEST(RepairEndToEnd, PassAgainstASilentHostEndsAtItsDeadlineAndAnotherGameLoads) {
    GameDir game;
    ASSERT_TRUE(CopyFileW((ArtifactDir() + L"\\seams\\OrvexBridge.dll").c_str(),
                          game.File("OrvexBridge.dll").c_str(), FALSE));
    WriteFileBytes(game.File("version.bin"), "[conf]\r\nversion=2\r\n");
    LoopbackHttpServer silent;  // stopping it ends the wait of the request it holds
    ScriptedResponse never = ScriptedResponse::Ok(kGood);
    never.answerDelayMs = 600000;
    silent.Respond(never);
    ASSERT_TRUE(silent.Start());
    constexpr int kFiles = 50;
    auto name = [](int i) { return "data\\f" + std::to_string(100 + i).substr(1) + ".bin"; };
    std::string list = "<root version=\"2\">" + CoreEntry(game);
    for (int i = 0; i < kFiles; ++i)  // none exists, so each is marked damaged
        list += Entry(name(i), Md5Text(kGood), Narrow(silent.Url("/f" + std::to_string(i))));
    list += "</root>";
    LoopbackHttpServer server;
    ASSERT_TRUE(server.Start(8008));
    server.SetHandler([&list](const ReceivedRequest& request) { return Documents(request, list); });
    // The test build of the bridge reads it as the pass's deadline.
    ScopedEnvironmentVariable deadline(L"ORVEX_SEAM_REPAIR_DEADLINE_MS", L"4000");

    const ULONGLONG start = GetTickCount64();
    HANDLE first = game.StartHost({"load", "init:1234:7:9:30:2", "waitcore:dx9:90000"}, "a.out");
    EXPECT_TRUE(WaitUntil([&] { return silent.RequestCount() > 0; }, 60000));  // in its pass
    HANDLE later = game.StartHost({"load", "init:1234:7:9:30:2", "waitcore:dx9:30000"}, "b.out");
    Lines outLater = game.Wait(later, "b.out");
    Lines outFirst = game.Wait(first, "a.out");
    // Without the deadline the pass would take 50 files x 3 tries x 10 s.
    EXPECT_LT(GetTickCount64() - start, 60000u);

    ASSERT_EQ(outLater.size(), 3u);
    EXPECT_EQ(outLater[2], "waitcore loaded");
    ASSERT_EQ(outFirst.size(), 3u);
    EXPECT_EQ(outFirst[2], "waitcore loaded");
    // The later game's run starts bx.log afresh; should that come after the first's pass
    // ended, it takes the lock and makes a pass of its own, so a deadline line is there.
    Lines reached = Starting(game.Lines("bx.log"), kDeadline);
    ASSERT_FALSE(reached.empty());
    EXPECT_GE(std::atoi(reached.back().c_str() + kDeadline.size()), 40) << reached.back();
    for (int i = 0; i < kFiles; ++i) EXPECT_FALSE(PathExists(game.File("bin\\" + name(i))));
    EXPECT_FALSE(PathExists(game.File("OrvexBridge.update")));
}

}  // namespace
