// The publisher's server tree through the real DLL in a host process: a machine without the
// core installs the first release, is patched to the second and has a damaged file repaired,
// all from the files the publisher wrote, served as they lie. And the bridge's test for names
// from the network keeps to the table the publisher's copy of it is held to.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "support/GameDir.h"
#include "support/LoopbackHttpServer.h"
#include "support/PathUtils.h"
#include "support/RelativePath.h"
#include "support/ServedTree.h"
#include "support/TestPaths.h"

namespace {

using Lines = std::vector<std::string>;
const std::vector<std::string> kRun = {"load", "init:1234:7:9:30:2", "waitcore:dx9:20000"};

std::wstring Fixture(const std::wstring& relative) {
    return ArtifactDir() + L"\\published_tree\\" + relative;
}

// The release's files by installed name (such as data\level.dat), with their bytes.
std::map<std::string, std::string> Release(const std::wstring& version) {
    std::wstring dir = Fixture(L"releases\\" + version);
    std::vector<std::wstring> files;
    CollectFiles(dir, files);
    std::map<std::string, std::string> release;
    for (const std::wstring& file : files)
        release[Narrow(file.substr(dir.size() + 1))] = ReadFileBytes(file);
    return release;
}

void ExpectInstalled(const GameDir& game, const std::wstring& version) {
    std::map<std::string, std::string> release = Release(version);
    ASSERT_GE(release.size(), 4u);
    for (const auto& [name, bytes] : release)
        EXPECT_EQ(ReadFileBytes(game.File("bin\\" + name)), bytes) << name;
    Lines record = game.Lines("version.bin");
    EXPECT_NE(std::find(record.begin(), record.end(), "version=" + Narrow(version)), record.end());
}

TEST(PublishedTree, InstallsPatchesAndRepairsFromThePublishedFiles) {
    LoopbackHttpServer server;
    ASSERT_TRUE(server.Start(8008));
    GameDir game("");

    ServeTree(server, Fixture(L"tree1"));
    Lines out = game.RunHost(kRun, "install.out");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2], "waitcore loaded");
    ExpectInstalled(game, L"1.0.0");
    EXPECT_EQ(Starting(RequestPathsSince(server, 0), "/packages/").size(), 1u);

    size_t before = server.RequestCount();
    ServeTree(server, Fixture(L"tree2"));
    out = game.RunHost(kRun, "patch.out");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2], "waitcore loaded");
    ExpectInstalled(game, L"1.0.1");
    EXPECT_EQ(Starting(RequestPathsSince(server, before), "/patches/").size(), 1u);
    // Neither a patch nor a package deletes what a release no longer has.
    EXPECT_EQ(ReadFileBytes(game.File("bin\\data\\old.dat")), "only in 1.0.0\n");

    before = server.RequestCount();
    ASSERT_TRUE(WriteFileBytes(game.File("bin\\data\\level.dat"), "damaged"));
    out = game.RunHost(kRun, "repair.out");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2], "waitcore loaded");
    ExpectInstalled(game, L"1.0.1");
    // Only the damaged file is fetched, from its content-addressed copy.
    Lines files = Starting(RequestPathsSince(server, before), "/files/");
    EXPECT_EQ(files.size(), 1u);
    EXPECT_TRUE(game.Lines("bx.log").empty());
}

TEST(PublishedTree, TheBridgeJudgesNamesAsThePublisherDoes) {
    size_t cases = 0;
    for (const std::string& line : ReadLines(Fixture(L"name_cases.txt"))) {
        if (line.empty() || line[0] == '#') continue;
        size_t open = line.find('"');
        size_t close = line.rfind('"');
        ASSERT_LT(open, close) << line;
        std::string name = line.substr(open + 1, close - open - 1);
        EXPECT_EQ(IsContainedRelativePath(std::wstring(name.begin(), name.end())),
                  line.compare(0, 7, "accept ") == 0)
            << line;
        ++cases;
    }
    EXPECT_GT(cases, 30u);
}

}  // namespace
