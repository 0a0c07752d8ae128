// The render bridges' state machine through the real DLL and a recording core.
#include <gtest/gtest.h>

#include "support/GameDir.h"

namespace {

using Lines = std::vector<std::string>;

// Render-interface calls the core received, in order.
Lines RenderCalls(const GameDir& game, const std::string& dx) {
    return Starting(game.CoreCalls(), dx + ".");
}

TEST(Render, LoadThenInitializeThenRender) {
    GameDir game;
    Lines out = game.RunHost({"load", "init:1234:7:9:30:2", "dx9init:4096:11:22:1",
                              "waitcore:dx9:20000", "dx9render", "dx9render", "dx9renderex"});
    ASSERT_EQ(out.size(), 7u);
    EXPECT_EQ(out[2], "dx9init 0");  // no core yet
    ASSERT_EQ(out[3], "waitcore loaded");
    EXPECT_EQ(out[4], "dx9render 0");
    EXPECT_EQ(out[5], "dx9render 0");
    EXPECT_EQ(out[6], "dx9renderex 0");
    Lines calls = RenderCalls(game, "Dx9");
    ASSERT_EQ(calls.size(), 3u);
    // The kept device and a copy of the parameters (the host scribbled over its own).
    EXPECT_EQ(calls[0].substr(0, 31), "Dx9.Initialize device=00001000 ");
    EXPECT_NE(calls[0].find("p0=11 plast=22 flag=1"), std::string::npos) << calls[0];
    EXPECT_EQ(calls[1], "Dx9.Render");
    EXPECT_EQ(calls[2], "Dx9.RenderEx");
}

TEST(Render, FinalizeThenRenderInitializesAgain) {
    GameDir game;
    Lines out = game.RunHost({"load", "init:1234:7:8:30:2", "dx8init:8192:3:4:0",
                              "waitcore:dx8:20000", "dx8renderex", "dx8render", "dx8finalize",
                              "dx8render", "dx8render", "dx8lost", "dx8reset:77"});
    ASSERT_EQ(out[3], "waitcore loaded");
    EXPECT_EQ(out[6], "dx8finalize 6");  // the core's result reaches the host
    Lines calls = RenderCalls(game, "Dx8");
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_NE(calls[0].find("device=00002000"), std::string::npos);
    EXPECT_NE(calls[0].find("p0=3 plast=4 flag=0"), std::string::npos) << calls[0];
    EXPECT_EQ(calls[1], "Dx8.Render");
    EXPECT_EQ(calls[2], "Dx8.Finalize");
    EXPECT_NE(calls[3].find("device=00002000"), std::string::npos);
    EXPECT_NE(calls[3].find("p0=3 plast=4 flag=0"), std::string::npos);
    EXPECT_EQ(calls[4], "Dx8.Render");
    EXPECT_EQ(calls[5], "Dx8.OnDeviceLost");
    EXPECT_EQ(calls[6].substr(0, 18), "Dx8.OnDeviceReset ");
    EXPECT_NE(calls[6].find("p0=77"), std::string::npos);
}

TEST(Render, DeviceResetBeforeLoadChangesWhatTheCoreFirstGets) {
    GameDir game;
    Lines out = game.RunHost({"load", "init:1234:7:9:30:2", "dx9init:4096:11:22:1", "dx9reset:33",
                              "dx9lost", "dx9finalize", "waitcore:dx9:20000", "dx9render"});
    ASSERT_EQ(out[6], "waitcore loaded");
    Lines calls = RenderCalls(game, "Dx9");
    ASSERT_EQ(calls.size(), 1u);
    // The reset replaced the whole kept copy; device and flag stay.
    EXPECT_NE(calls[0].find("device=00001000"), std::string::npos);
    EXPECT_NE(calls[0].find("p0=33 plast=0 flag=1"), std::string::npos) << calls[0];
}

TEST(Render, InitializeWithCoreReturnsTheCoreResultWithTheCallersParameters) {
    GameDir game;
    Lines out = game.RunHost(
        {"load", "init:1234:7:9:30:2", "waitcore:dx9:20000", "dx9init:4096:5:6:1", "dx9render"});
    ASSERT_EQ(out[2], "waitcore loaded");
    EXPECT_EQ(out[3], "dx9init 5");
    Lines calls = RenderCalls(game, "Dx9");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_NE(calls[0].find("p0=5 plast=6 flag=1"), std::string::npos);
    EXPECT_EQ(calls[1], "Dx9.Render");  // already initialised: renders at once
}

TEST(Render, TheOtherDirectXVersionGetsNothingAfterALoad) {
    GameDir game;
    Lines out = game.RunHost({"load", "init:1234:7:9:30:2", "waitcore:dx9:20000", "dx8render",
                              "dx8render", "dx8renderex", "dx8init:1:2:3:1", "dx8finalize"});
    ASSERT_EQ(out[2], "waitcore loaded");
    EXPECT_EQ(out[3], "dx8render 0");
    EXPECT_EQ(out[6], "dx8init 0");
    EXPECT_EQ(out[7], "dx8finalize 0");
    EXPECT_TRUE(RenderCalls(game, "Dx8").empty());
    EXPECT_EQ(Starting(game.CoreCalls(), "OrvexInitialize").size(), 1u);
}

}  // namespace
