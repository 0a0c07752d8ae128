// Repair through the real DLL in a host process: the installed version equals the manifest's,
// so the run checks the installation against the list and mends the damaged file.
#include <gtest/gtest.h>

#include <windows.h>

#include "support/FileDigest.h"
#include "support/TestDigest.h"
#include "support/GameDir.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestPaths.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kGood = "level data, version 2\n";

TEST(RepairEndToEnd, OneDamagedFileOfTwoIsRepaired) {
    GameDir game;
    WriteFileBytes(game.File("version.bin"), "[conf]\r\nversion=2\r\n");
    CreateDirectoryW(game.File("bin\\data").c_str(), nullptr);
    WriteFileBytes(game.File("bin\\data\\level.dat"), "damaged");
    char coreMd5[33];
    ASSERT_EQ(Md5OfFile(coreMd5, game.File("bin\\Orvex.dll").c_str()), 1u);
    const std::string list =
        std::string("<root version=\"2\">") + "<file name=\"Orvex.dll\" md5=\"" + coreMd5 +
        "\" remote_file_url=\"http://127.0.0.1:8008/files/Orvex.dll\"/>" +
        "<file name=\"data\\level.dat\" md5=\"" + Md5Text(kGood) +
        "\" remote_file_url=\"http://127.0.0.1:8008/files/level.dat\"/></root>";

    LoopbackHttpServer server;
    ASSERT_TRUE(server.Start(8008));
    server.SetHandler([&list](const ReceivedRequest& request) {
        if (request.target.rfind("/version.xml?", 0) == 0)
            return ScriptedResponse::Ok("<root start=\"1\" url=\"http://h/p.7z\" version=\"2\"/>");
        if (request.target.rfind("/g_file_check_list.xml?", 0) == 0)
            return ScriptedResponse::Ok(list);
        if (request.target == "/files/level.dat") return ScriptedResponse::Ok(kGood);
        return ScriptedResponse::WithStatus(404, "Not Found", "");
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

}  // namespace
