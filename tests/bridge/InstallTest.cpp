// The full package through the real DLL in a host process: a machine without a local version
// gets the package from the update server, and a package left by an interrupted run is
// unpacked on the next one.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>

#include "support/GameDir.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestPaths.h"

namespace {

using Lines = std::vector<std::string>;

const char kManifest[] =
    "<root start=\"1\" url=\"http://127.0.0.1:8008/pkg/orvex.7z\" version=\"1.0\"/>";

std::string Package() { return ReadFileBytes(ArtifactDir() + L"\\package_fixtures\\package.7z"); }

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The manifest, and `package` for the package URL; 404 for anything else.
void ServeManifestAnd(LoopbackHttpServer& server, const ScriptedResponse& package) {
    server.SetHandler([package](const ReceivedRequest& request) {
        if (StartsWith(request.target, "/version.xml?")) return ScriptedResponse::Ok(kManifest);
        if (StartsWith(request.target, "/pkg/orvex.7z?rand=")) return package;
        return ScriptedResponse::WithStatus(404, "Not Found", "");
    });
}

size_t PackageRequests(const LoopbackHttpServer& server) {
    size_t count = 0;
    for (const ReceivedRequest& r : server.Requests()) count += StartsWith(r.target, "/pkg/");
    return count;
}

TEST(Install, FreshMachineGetsThePackageOnceAndTheCoreStarts) {
    std::string package = Package();
    ASSERT_FALSE(package.empty());
    LoopbackHttpServer server;
    ASSERT_TRUE(server.Start(8008));
    ServeManifestAnd(server, ScriptedResponse::Ok(package));
    GameDir game("");
    Lines out = game.RunHost({"load", "init:1234:7:9:30:2", "waitcore:dx9:20000"});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2], "waitcore loaded");
    EXPECT_EQ(ReadFileBytes(game.File("bin\\Orvex.dll")),
              ReadFileBytes(ArtifactDir() + L"\\TestCore.dll"));
    EXPECT_EQ(ReadFileBytes(game.File("bin\\data\\level.dat")), "level data of version 1.0\n");
    EXPECT_FALSE(PathExists(game.File("orvex_packet.7z")));
    EXPECT_EQ(game.Lines("bx.log"), Lines{"unknown current_version"});
    EXPECT_EQ(PackageRequests(server), 1u);

    // The version is recorded, so the next start checks the files instead of reinstalling.
    Lines version = game.Lines("version.bin");
    EXPECT_NE(std::find(version.begin(), version.end(), "version=1.0"), version.end());
    out = game.RunHost({"load", "init:1234:7:9:30:2", "waitcore:dx9:20000"}, "second.out");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2], "waitcore loaded");
    EXPECT_EQ(PackageRequests(server), 1u);
    EXPECT_TRUE(StartsWith(server.Requests().back().target, "/g_file_check_list.xml?tick="));
}

TEST(Install, FailedDownloadsAndBadPackagesChangeNothing) {
    ScriptedResponse chunked = ScriptedResponse::Ok(Package());
    chunked.chunked = true;
    ScriptedResponse truncated = ScriptedResponse::Ok(Package().substr(0, 300));
    struct Case {
        const char* what;
        ScriptedResponse response;
        const char* line;  // its start
        size_t times;      // a failed download is tried three times, an unusable one once
    } cases[] = {
        {"404 with a body", ScriptedResponse::WithStatus(404, "Not Found", "<h1>gone</h1>"),
         "Unzip failed", 1},
        {"no Content-Length", chunked,
         "Install DownloadFile (http://127.0.0.1:8008/pkg/orvex.7z?rand=", 3},
        {"truncated package", truncated, "Unzip failed", 1},
    };
    for (const Case& c : cases) {
        LoopbackHttpServer server;
        ASSERT_TRUE(server.Start(8008));
        ServeManifestAnd(server, c.response);
        GameDir game;  // an installed core without a version record
        Lines out = game.RunHost({"load", "init:1234:7:9:30:2", "waitcore:dx9:20000"});
        ASSERT_EQ(out.size(), 3u) << c.what;
        EXPECT_EQ(out[2], "waitcore loaded") << c.what;  // the run has reported
        Lines log = game.Lines("bx.log");
        ASSERT_EQ(log.size(), 1 + c.times) << c.what;
        for (size_t i = 1; i < log.size(); ++i)
            EXPECT_TRUE(StartsWith(log[i], c.line)) << c.what << ": " << log[i];
        EXPECT_EQ(PackageRequests(server), c.times) << c.what;
        EXPECT_FALSE(PathExists(game.File("orvex_packet.7z"))) << c.what;
        EXPECT_FALSE(PathExists(game.File("orvex_packet.7z.download"))) << c.what;
        EXPECT_FALSE(PathExists(game.File("orvex_packet.7z.download.resume"))) << c.what;
        EXPECT_FALSE(PathExists(game.File("version.bin"))) << c.what;
        EXPECT_FALSE(PathExists(game.File("bin\\data"))) << c.what;
    }
}

TEST(Install, PackageLeftByAnInterruptedRunIsUnpacked) {
    GameDir game("");
    ASSERT_TRUE(WriteFileBytes(game.File("orvex_packet.7z"), Package()));
    // No server: the pending package comes before the manifest and needs none.
    Lines out = game.RunHost({"load", "init:1234:7:9:30:2", "waitcore:dx9:20000"});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2], "waitcore loaded");
    EXPECT_FALSE(PathExists(game.File("orvex_packet.7z")));
    EXPECT_EQ(ReadFileBytes(game.File("bin\\data\\level.dat")), "level data of version 1.0\n");
}

}  // namespace
