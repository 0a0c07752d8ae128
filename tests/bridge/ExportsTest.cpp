// The export surface through the real DLL in a real host process: argument checks,
// neutral answers without a core, and the module query table.
#include <gtest/gtest.h>

#include "support/GameDir.h"
#include "support/TestPaths.h"

namespace {

using Lines = std::vector<std::string>;

// Runs the host until its updater has written its "game_info.log" line (whole, not just the
// file created), then lets it end; returns its output.
Lines RunUntilARunStarted(GameDir& game, Lines commands) {
    commands.push_back("waitfile:end:60000");
    HANDLE host = game.StartHost(commands, "host.out");
    WaitUntil([&] { return !game.Lines("game_info.log").empty(); }, 60000);
    WriteFileBytes(game.File("end"), "");
    Lines out = game.Wait(host, "host.out");
    if (!out.empty()) out.pop_back();  // the "waitfile" line
    return out;
}

TEST(Exports, InitializeRejectsBadArgumentsAndASecondCall) {
    GameDir game("");
    Lines out = RunUntilARunStarted(game, {"load", "init:0:7:9:30:2", "initnull", "getmodule:app",
                                           "init:1234:7:9:30:2", "init:1234:7:9:30:2"});
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out[1].substr(0, 6), "init 1");               // host handle 0
    EXPECT_EQ(out[2], "init 1");                            // null record
    EXPECT_EQ(out[3].substr(0, 18), "getmodule app 1 ob");  // not initialised yet
    EXPECT_EQ(out[4].substr(0, 6), "init 0");
    EXPECT_EQ(out[5].substr(0, 6), "init 1");  // already initialised
    // The rejected calls started no updater: one run, one line.
    EXPECT_EQ(game.Lines("game_info.log").size(), 1u);
}

// The host's record cannot be copied (the bridge's allocations fail, as in a game whose
// address space is full): the call fails, stores nothing and starts no run, and a later
// call may initialise.
TEST(Exports, InitializeFailsWhenTheRecordCannotBeCopied) {
    GameDir game("");
    const std::string longText(3000, 'x');  // 6,000 bytes as a wide text
    Lines out = RunUntilARunStarted(
        game, {"load", "failalloc:4096", "init:1234:7:9:30:2:" + longText, "getmodule:app",
               "okalloc", "init:1234:7:9:30:2", "getmodule:app"});
    ASSERT_EQ(out.size(), 8u);  // "getmodule" with 0 adds the IUnknown answers
    EXPECT_EQ(out[1], "failalloc 1");
    EXPECT_EQ(out[2].substr(0, 6), "init 1");
    EXPECT_EQ(out[3].substr(0, 16), "getmodule app 1 ");
    EXPECT_EQ(out[4], "okalloc 1");
    EXPECT_EQ(out[5].substr(0, 6), "init 0");
    EXPECT_EQ(out[6].substr(0, 16), "getmodule app 0 ");
    // Only the second call started a run.
    EXPECT_EQ(game.Lines("game_info.log").size(), 1u);
}

TEST(Exports, NeutralValuesWithoutCore) {
    GameDir game("");
    Lines out =
        game.RunHost({"load", "loginstate", "hasui:5", "winproc:1:2:3:4:5", "show:1", "moveto:2",
                      "exports", "dx9finalize", "dx8finalize", "dx9init:4096:1:2:1", "dx9render",
                      "dx9renderex", "dx8lost", "terminal"});
    Lines expected = {
        "load ok",     "loginstate 0",           "hasui 0",       "winproc 1",     "show",
        "moveto",      "exports showIsMoveTo=1", "dx9finalize 0", "dx8finalize 0", "dx9init 0",
        "dx9render 0", "dx9renderex 0",          "dx8lost",       "terminal"};
    EXPECT_EQ(out, expected);
}

TEST(Exports, ModuleQueryTableFollowsTheDirectXVersion) {
    GameDir game("");
    Lines out = game.RunHost({"load", "init:1234:7:8:30:2", "getmodule:app", "getmodule:app",
                              "getmodule:dx8", "getmodule:dx9", "getmodule:other", "terminal",
                              "getmodule:app"});
    ASSERT_EQ(out.size(), 12u);
    // The same application bridge object each time; its IUnknown answers 1 without core.
    EXPECT_EQ(out[2].substr(0, 16), "getmodule app 0 ");
    EXPECT_EQ(Field(out[2], "obj"), Field(out[4], "obj"));
    EXPECT_EQ(out[3], "unknown 1 1 1 untouched=1");
    EXPECT_EQ(out[6].substr(0, 16), "getmodule dx8 0 ");
    EXPECT_NE(Field(out[6], "obj"), Field(out[2], "obj"));
    EXPECT_EQ(out[7], "unknown 1 1 1 untouched=1");
    // A render GUID that does not fit nDxVersion, and an unknown GUID, leave out untouched.
    EXPECT_EQ(out[8], "getmodule dx9 1 obj=00000001");
    EXPECT_EQ(out[9], "getmodule other 1 obj=00000001");
    EXPECT_EQ(out[10], "terminal");
    EXPECT_EQ(out[11], "getmodule app 1 obj=00000001");
}

TEST(Exports, Dx9HostGetsOnlyTheDx9Bridge) {
    GameDir game("");
    Lines out = game.RunHost({"load", "init:1234:7:9:30:2", "getmodule:dx8", "getmodule:dx9"});
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[2], "getmodule dx8 1 obj=00000001");
    EXPECT_EQ(out[3].substr(0, 16), "getmodule dx9 0 ");
}

TEST(Exports, TerminalBeforeInitializeOnlyClearsTheFlag) {
    GameDir game("");
    Lines out = game.RunHost({"load", "terminal", "init:1234:7:9:30:2", "sleep:300"});
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[2].substr(0, 6), "init 0");
    EXPECT_TRUE(game.CoreCalls().empty());
}

}  // namespace
