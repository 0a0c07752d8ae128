// What the core module sees of the host's records: the replay at attach and forwarding.
#include <gtest/gtest.h>

#include "support/GameDir.h"

namespace {

using Lines = std::vector<std::string>;

// Core calls without the login-state polls the host makes while it waits for the load.
Lines Calls(const GameDir& game) { return Without(game.CoreCalls(), "App.GetLoginState"); }

TEST(Replay, CoreSeesStoredRecordAtInitializeAndAttachThenLogin) {
    GameDir game;
    Lines out =
        game.RunHost({"load", "init:1234:7:9:30:2:alpha:beta", "login:12:user:secret",
                      "waitcore:dx9:20000", "login:12:next:pw", "modify:8:9:31:3:gamma:delta"});
    ASSERT_EQ(out.size(), 6u);
    ASSERT_EQ(out[3], "waitcore loaded");
    std::string hostInfo = Field(out[1], "info");
    std::string hostLogin2 = Field(out[4], "info");

    Lines calls = Calls(game);
    ASSERT_EQ(calls.size(), 9u);
    EXPECT_EQ(calls[8], "DllMain detach");  // process exit only
    EXPECT_EQ(calls[0], "DllMain attach");
    EXPECT_EQ(calls[1].substr(0, 26), "OrvexInitialize host=1234 ");
    std::string stored = Field(calls[1], "info");
    EXPECT_NE(stored, hostInfo);  // the bridge's copy, not the host's record
    EXPECT_NE(calls[1].find("cbSize=32 game=7 text1=alpha text2=beta dx=9 reserved=0 area=30 "
                            "group=2"),
              std::string::npos)
        << calls[1];
    EXPECT_EQ(calls[2], "OrvexGetModule iid=App out=null");
    EXPECT_EQ(calls[3], "OrvexGetModule iid=Dx9 out=null");
    // Replay: the application record first (the same stored copy), then the login.
    EXPECT_EQ(calls[4].substr(0, 17), "App.ModifyAppInfo");
    EXPECT_EQ(Field(calls[4], "info"), stored);
    EXPECT_NE(calls[4].find("game=7 text1=alpha text2=beta dx=9 reserved=0"), std::string::npos);
    EXPECT_EQ(calls[5].substr(0, 9), "App.Login");
    EXPECT_NE(calls[5].find("cbSize=12 first=user second=secret"), std::string::npos);
    // After attach: a login passes the caller's own record, a new application record the copy.
    EXPECT_EQ(Field(calls[6], "info"), hostLogin2);
    EXPECT_NE(calls[6].find("first=next second=pw"), std::string::npos);
    EXPECT_EQ(Field(calls[7], "info"), stored);
    EXPECT_NE(calls[7].find("game=8 text1=gamma text2=delta dx=9 reserved=0 area=31 group=3"),
              std::string::npos);
}

TEST(Replay, LogoutBeforeAttachReplaysAnEmptyLogin) {
    GameDir game;
    Lines out = game.RunHost(
        {"load", "init:1234:7:9:30:2", "login:12:user:secret", "logout", "waitcore:dx9:20000"});
    ASSERT_EQ(out.back(), "waitcore loaded");
    Lines logins = Starting(Calls(game), "App.Login");
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_NE(logins[0].find("cbSize=12 first= second="), std::string::npos) << logins[0];
    EXPECT_TRUE(Starting(Calls(game), "App.Logout").empty());
}

TEST(Replay, InvalidLoginsAndNullRecordsAreIgnored) {
    GameDir game;
    Lines out =
        game.RunHost({"load", "init:1234:7:9:30:2", "login:12:user:secret", "login:0:a:b",
                      "login:12::b", "login:12:a:", "login:12:null:b", "loginnull", "modifynull",
                      "modify:9:9:1:2:null:null", "modify:11:9:5:6:x:y", "waitcore:dx9:20000"});
    ASSERT_EQ(out.back(), "waitcore loaded");
    Lines calls = Calls(game);
    Lines logins = Starting(calls, "App.Login");
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_NE(logins[0].find("first=user second=secret"), std::string::npos);
    // Only the latest application record reaches the core, once.
    Lines modifies = Starting(calls, "App.ModifyAppInfo");
    ASSERT_EQ(modifies.size(), 1u);
    EXPECT_NE(modifies[0].find("game=11 text1=x text2=y"), std::string::npos);
}

TEST(Replay, NullTextsAreStoredAsEmptyTexts) {
    GameDir game;
    Lines out = game.RunHost({"load", "init:1234:7:9:30:2:null:null", "waitcore:dx9:20000"});
    ASSERT_EQ(out.back(), "waitcore loaded");
    Lines inits = Starting(Calls(game), "OrvexInitialize");
    ASSERT_EQ(inits.size(), 1u);
    EXPECT_NE(inits[0].find("text1= text2= dx=9"), std::string::npos) << inits[0];
}

TEST(Replay, ForwardsApplicationCallsOnceAttached) {
    GameDir game;
    Lines out = game.RunHost({"load", "init:1234:7:9:30:2", "waitcore:dx9:20000", "hasui:5",
                              "winproc:1:2:3:4:5", "loginstate", "logout", "show:1", "moveto:2",
                              "getmodule:app", "terminal", "loginstate", "getmodule:app"});
    ASSERT_EQ(out.size(), 14u);
    EXPECT_EQ(out[3], "hasui 105");
    EXPECT_EQ(out[4], "winproc 77");
    EXPECT_EQ(out[5], "loginstate 42");
    // The bridge's IUnknown slots forward to the core's (0x51, 0x52, 0x53).
    EXPECT_EQ(out[10], "unknown 81 82 83 untouched=1");
    // Terminal reaches the core; the core stays attached for the rest of the process.
    EXPECT_EQ(out[12], "loginstate 42");
    EXPECT_EQ(out[13], "getmodule app 1 obj=00000001");

    Lines calls = Calls(game);
    EXPECT_EQ(Starting(calls, "App.HasUI"), Lines{"App.HasUI 5"});
    EXPECT_EQ(Starting(calls, "App.OnWindowProc"), Lines{"App.OnWindowProc 1 2 3 4 5"});
    EXPECT_EQ(Starting(calls, "App.Logout"), Lines{"App.Logout"});
    EXPECT_TRUE(Starting(calls, "App.Show").empty());
    EXPECT_TRUE(Starting(calls, "App.MoveTo").empty());
    EXPECT_EQ(Starting(calls, "OrvexTerminal"), Lines{"OrvexTerminal"});
    EXPECT_TRUE(Starting(calls, "DllMain detach").empty() ||
                calls.back() == "DllMain detach");  // only at process exit
}

}  // namespace
