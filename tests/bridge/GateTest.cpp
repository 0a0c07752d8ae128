// The update gate across processes, and the update run's own log lines.
#include <gtest/gtest.h>

#include "support/GameDir.h"
#include "support/TestPaths.h"

namespace {

using Lines = std::vector<std::string>;

TEST(Gate, ALaterProcessWaitsWhileAnotherHoldsTheUpdateMutex) {
    GameDir game;
    // This test process plays the part of another game still updating.
    HANDLE holder = CreateMutexW(nullptr, TRUE, game.UpdateMutexName().c_str());
    ASSERT_NE(holder, nullptr);
    ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    HANDLE host = game.StartHost({"load", "init:1234:7:9:30:2", "waitcore:dx9:1500",
                                  "signal:phase1", "waitfile:go:20000", "waitcore:dx9:20000"},
                                 "host.out");
    ASSERT_TRUE(WaitUntil([&] { return PathExists(game.File("phase1")); }, 60000));
    ReleaseMutex(holder);  // the other game's update ends
    CloseHandle(holder);
    WriteFileBytes(game.File("go"), "");
    Lines out = game.Wait(host, "host.out");
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out[2], "waitcore absent");
    EXPECT_EQ(out[5], "waitcore loaded");
}

// Games that reach one installation through other spellings of its path share its lock.
TEST(Gate, EverySpellingOfTheGameFolderWaitsForTheSameLock) {
    GameDir game;
    HANDLE holder = CreateMutexW(nullptr, TRUE, game.UpdateMutexName().c_str());
    ASSERT_NE(holder, nullptr);
    const std::vector<std::wstring> spellings = OtherSpellings(game.Path());
    std::vector<HANDLE> hosts;
    for (size_t i = 0; i < spellings.size(); ++i) {
        const std::string n = std::to_string(i);
        hosts.push_back(game.StartHost({"load", "waitcore:dx9:1500", "signal:held" + n,
                                        "waitfile:go:20000", "waitcore:dx9:20000"},
                                       "host" + n + ".out", spellings[i]));
    }
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (size_t i = 0; i < spellings.size(); ++i)
                if (!PathExists(game.File("held" + std::to_string(i)))) return false;
            return true;
        },
        60000));
    ReleaseMutex(holder);
    CloseHandle(holder);
    WriteFileBytes(game.File("go"), "");
    for (size_t i = 0; i < spellings.size(); ++i) {
        Lines out = game.Wait(hosts[i], "host" + std::to_string(i) + ".out");
        ASSERT_EQ(out.size(), 5u) << Narrow(spellings[i]);
        EXPECT_EQ(out[1], "waitcore absent") << Narrow(spellings[i]);
        EXPECT_EQ(out[4], "waitcore loaded") << Narrow(spellings[i]);
    }
}

TEST(Gate, FirstInstanceLoadsOnceItsUpdaterReports) {
    GameDir game;
    Lines out = game.RunHost({"load", "init:1234:7:9:30:2", "waitcore:dx9:20000"});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2], "waitcore loaded");
    // Its updater reported, so the mutex is released: a later game is not held up.
    HANDLE probe = CreateMutexW(nullptr, FALSE, game.UpdateMutexName().c_str());
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(probe);
}

TEST(Gate, RenderBeforeInitializeWithoutAnyUpdateLoadsAtOnce) {
    GameDir game;
    Lines out = game.RunHost({"load", "waitcore:dx9:20000"});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1], "waitcore loaded");
}

TEST(GameInfo, EachRunAppendsOneLineAndResetsTheUpdaterLog) {
    GameDir game;
    WriteFileBytes(game.File("bx.log"), "left from an earlier run\n");
    WriteFileBytes(game.File("game_info.log"), "earlier line\n");
    Lines out = game.RunHost({"load", "init:1234:7:9:30:2", "waitcore:dx9:20000", "terminal",
                              "init:1234:-1:9:-5:2147483647", "waitlines:game_info.log:3:60000"});
    ASSERT_EQ(out[2], "waitcore loaded");
    Lines info = game.Lines("game_info.log");
    Lines expected = {"earlier line", "pAppInfo:(7)  nGroupId:(2)  nAreaId:(30)  ",
                      "pAppInfo:(-1)  nGroupId:(2147483647)  nAreaId:(-5)  "};
    EXPECT_EQ(info, expected);
    std::string raw = ReadFileBytes(game.File("game_info.log"));
    EXPECT_NE(raw.find("nAreaId:(30)  \r\n"), std::string::npos);  // text mode
    EXPECT_EQ(ReadFileBytes(game.File("bx.log")).find("earlier run"), std::string::npos);
}

}  // namespace
