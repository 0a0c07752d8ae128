// Every way the core module's load can go wrong, through the real DLL in a host process.
#include <gtest/gtest.h>

#include "support/DebugOutputListener.h"
#include "support/GameDir.h"
#include "support/TestPaths.h"

namespace {

using Lines = std::vector<std::string>;

void PutSpareCore(GameDir& game, const char* core) {
    CopyFileW((ArtifactDir() + L"\\" + std::wstring(core, core + strlen(core))).c_str(),
              game.File("spare.dll").c_str(), FALSE);
}

// Renders until `before` holds, puts a good core in place while the game runs, renders
// again until it loads.
Lines RenderThenSwapInAGoodCore(GameDir& game, const std::string& before) {
    PutSpareCore(game, "TestCore.dll");
    return game.RunHost({"load", "init:1234:7:9:30:2", before, "copy:spare.dll:bin\\Orvex.dll",
                         "waitcore:dx9:60000"});
}

TEST(Loader, MissingModuleIsRetriedUntilItAppears) {
    GameDir game("");
    // No load attempt shows from outside, so a while of renders without a module stands in.
    Lines out = RenderThenSwapInAGoodCore(game, "waitcore:dx9:1500");
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[2], "waitcore absent");
    EXPECT_EQ(out[4], "waitcore loaded");
    EXPECT_EQ(Starting(game.CoreCalls(), "OrvexInitialize").size(), 1u);
}

TEST(Loader, UnloadableModuleIsGivenUpWithOneDebuggerMessage) {
    DebugOutputListener listener;
    ASSERT_TRUE(listener.Ready());
    GameDir game("");
    game.InstallBrokenCore();
    PutSpareCore(game, "TestCore.dll");
    // Renders until the failed load has spoken, then never again: not even with a good file.
    HANDLE host = game.StartHost(
        {"load", "init:1234:7:9:30:2", "renderuntil:dx9:go:0:60000", "dx8render", "dx8renderex",
         "copy:spare.dll:bin\\Orvex.dll", "waitcore:dx9:1500", "dx8render"},
        "host.out");
    ASSERT_NE(host, nullptr);
    DWORD pid = GetProcessId(host);
    EXPECT_TRUE(WaitUntil([&] { return !listener.From(pid).empty(); }, 60000));
    WriteFileBytes(game.File("go"), "");
    Lines out = game.Wait(host, "host.out");
    ASSERT_EQ(out.size(), 8u);
    EXPECT_EQ(out[2], "renderuntil 1");
    EXPECT_EQ(out[6], "waitcore absent");
    EXPECT_TRUE(game.CoreCalls().empty());
    ASSERT_TRUE(listener.Drain(60000));
    EXPECT_EQ(listener.From(pid), Lines{"load Orvex failed\n"});
}

// A core that loads but cannot be used is unloaded each time and tried again. Each round
// of core calls starts with the entries of oneRound (prefixes of the recorded lines).
void ExpectRetriedAndUnloaded(const char* core, const Lines& oneRound) {
    GameDir game(core);
    const std::string threeRounds = std::to_string(oneRound.size() * 3);
    Lines out = game.RunHost({"load", "init:1234:7:9:30:2",
                              "renderuntil:dx9:bin\\core_calls.log:" + threeRounds + ":60000",
                              "dx9render", "loginstate"});
    ASSERT_EQ(out.size(), 5u) << core;
    ASSERT_EQ(out[2], "renderuntil 1") << core;
    EXPECT_EQ(out[4], "loginstate 0") << core;  // never attached
    Lines calls = game.CoreCalls();
    ASSERT_GE(calls.size(), oneRound.size() * 3) << core;
    ASSERT_EQ(calls.size() % oneRound.size(), 0u) << core;
    for (size_t i = 0; i < calls.size(); ++i) {
        const std::string& expected = oneRound[i % oneRound.size()];
        EXPECT_EQ(calls[i].substr(0, expected.size()), expected) << core << " line " << i;
    }
    EXPECT_TRUE(Starting(calls, "OrvexTerminal").empty());
    EXPECT_TRUE(Starting(calls, "App.").empty());
}

TEST(Loader, CoreWhoseInitializeFailsIsUnloadedAndRetried) {
    ExpectRetriedAndUnloaded("TestCoreInitFails.dll",
                             {"DllMain attach", "OrvexInitialize host=1234 ", "DllMain detach"});
}

TEST(Loader, CoreWithoutRenderInterfaceIsUnloadedAndRetried) {
    ExpectRetriedAndUnloaded(
        "TestCoreNoRender.dll",
        {"DllMain attach", "OrvexInitialize host=1234 ", "OrvexGetModule iid=App out=null",
         "OrvexGetModule iid=Dx9 out=null", "DllMain detach"});
}

TEST(Loader, CoreMissingAnExportIsUnloadedBeforeItIsInitialized) {
    ExpectRetriedAndUnloaded("TestCoreNoTerminal.dll", {"DllMain attach", "DllMain detach"});
}

TEST(Loader, FailedAttemptsThenAGoodCoreAttaches) {
    GameDir game("TestCoreInitFails.dll");
    // A failed core is unloaded, so its file can be replaced while the game runs: here
    // after two failed rounds of three calls each.
    Lines out = RenderThenSwapInAGoodCore(game, "renderuntil:dx9:bin\\core_calls.log:6:60000");
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[2], "renderuntil 1");
    EXPECT_EQ(out[3], "copy 1");
    EXPECT_EQ(out[4], "waitcore loaded");
}

TEST(Loader, PathEnvironmentIsUnchangedByTheLoad) {
    GameDir game;
    Lines out = game.RunHost(
        {"load", "getenv:PATH", "init:1234:7:9:30:2", "waitcore:dx9:20000", "getenv:PATH"});
    ASSERT_EQ(out.size(), 5u);
    ASSERT_EQ(out[3], "waitcore loaded");
    EXPECT_EQ(out[1], out[4]);
}

}  // namespace

namespace {

// The core keeps the bridge's record and calls back into it, so once it is attached the
// game's FreeLibrary must leave the bridge mapped (the updater's own reference is gone by
// the time the host looks again).
TEST(Loader, AttachedCoreKeepsTheBridgeLoaded) {
    GameDir game;
    Lines out = game.RunHost(
        {"load", "init:1234:7:9:30:2", "waitcore:dx9:20000", "unload", "sleep:1500", "loaded"});
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out[2], "waitcore loaded");
    EXPECT_EQ(out[5], "loaded 1");
}

}  // namespace
