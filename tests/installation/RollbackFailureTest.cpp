// A patch whose copy fails and whose rollback then fails too, through the seams build of the
// bridge: the journal and the backups stay, the core is not loaded although the manifest
// lets it start, and the next start restores the old release and loads it.
#include <gtest/gtest.h>

#include "installation/SeamGame.h"
#include "support/TestPaths.h"
#include "support/TreeDigest.h"

namespace {

TEST(RollbackFailure, KeepsTheJournalAndTheCoreUnloadedUntilANextStartRestores) {
    ReleaseServer server(true);
    ASSERT_TRUE(server.Listen());
    Lines replaced;
    {
        SeamGame counting;
        counting.LayRelease("A");
        replaced = ReplacedInCopyOrder(CountingRun(counting));
        ASSERT_EQ(replaced.size(), 12u);
    }
    SeamGame game;
    game.LayRelease("A");
    // The last file copied is held, so the copy fails; the first was already replaced, and
    // putting it back fails.
    server.Serve(ReleaseServer::Payload::HoldingAFile, game.File("bin\\" + replaced.back()));
    Lines out;
    {
        ScopedEnvironmentVariable failRestore(
            L"ORVEX_SEAM_FAIL_RESTORE",
            (L"\\bin\\" + std::wstring(replaced.front().begin(), replaced.front().end())).c_str());
        out = game.Start("failed.out");
    }
    server.ReleaseHold();
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[3], "waitcore absent");
    EXPECT_TRUE(game.HasJournal());
    EXPECT_TRUE(PathExists(game.File("OrvexBridge.update\\backup\\" + replaced.front())));
    Lines failed;
    for (const std::string& line : Starting(game.Lines("bx.log"), "installation rollback ("))
        if (line.find(replaced.front()) != std::string::npos &&
            line.find(")  failed(") != std::string::npos)
            failed.push_back(line);
    EXPECT_EQ(failed.size(), 1u) << ReadFileBytes(game.File("bx.log"));
    EXPECT_TRUE(game.CoreTrees().empty());
    EXPECT_TRUE(Starting(game.CoreCalls(), "OrvexInitialize").empty());

    // No seam, nothing held, no server: the start's recovery puts A back.
    server.Close();
    out = game.Start("restored.out");
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[3], "waitcore loaded");
    EXPECT_EQ(game.Installed(), "A") << TreeListing(game.File("bin"));
    EXPECT_EQ(game.Version(), "1.0");
    EXPECT_FALSE(game.HasJournal());
    EXPECT_EQ(game.CoreTrees(), Lines{ReleaseDigest("A")});
}

}  // namespace
