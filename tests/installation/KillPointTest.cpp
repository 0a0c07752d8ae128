// A game killed right before each file change of a patch or of a full install, through the
// seams build of the bridge: every later start, with no server, with a server whose payload
// cannot be put in place, or with a working one, finds one whole release (or none) in bin\,
// its version recorded, no journal left, and loads the core from that release only.
#include <gtest/gtest.h>

#include <iostream>

#include "installation/SeamGame.h"
#include "support/TestPaths.h"
#include "support/TreeDigest.h"

namespace {

struct Scenario {
    const char* what;
    bool patch;              // A installed and patched to B; else nothing installed, A comes
    bool delta;              // the patch comes as a delta archive
    const char* afterwards;  // the release a working server ends with
} const kScenarios[] = {
    {"patch A->B on an installed A", true, false, "B"},
    {"full install of A on an empty machine", false, false, "A"},
    {"delta A->B on an installed A", true, true, "B"},
};

enum class Next { NoServer, FailingPayload, WorkingServer };
const char* Name(Next next) {
    return next == Next::NoServer         ? "no server"
           : next == Next::FailingPayload ? "failing payload"
                                          : "working server";
}

// Every point on the native build; the 32-bit build runs in a slow emulated machine, where a
// delta, whose change is the patch's, tries fewer.
std::vector<int> KillPoints(int count, bool delta) {
    std::vector<int> points;
    const int step = sizeof(void*) != 4 ? 1 : delta ? 24 : 10;
    for (int n = 1; n <= count; ++n)
        if (n == 1 || n == count || n % step == 0) points.push_back(n);
    return points;
}

// What a start left: one whole release, its version, no journal, and only that release's
// digest from the core, which loads whenever a release is installed. A laid-down release
// has a read-only file; one the package installed has none.
std::string ExpectWholeRelease(const SeamGame& game, const Lines& out, bool readOnly) {
    std::string release = game.Installed(readOnly);
    EXPECT_NE(release, "?") << TreeListing(game.File("bin"));
    EXPECT_EQ(game.Version(), release.empty() ? "" : release == "A" ? "1.0" : "1.1");
    EXPECT_FALSE(game.HasJournal());
    Lines expectedTrees;
    if (!release.empty() && release != "?")
        expectedTrees.push_back(ReleaseDigest(release, readOnly));
    EXPECT_EQ(game.CoreTrees(), expectedTrees);
    EXPECT_EQ(out.size(), 4u) << (out.empty() ? "" : out.back());
    return release;
}

void EveryNextStartFindsOneWholeRelease(const Scenario& s) {
    {
        SCOPED_TRACE(s.what);
        ReleaseServer server(s.patch, s.delta);
        ASSERT_TRUE(server.Listen());
        auto layDown = [&](SeamGame& game) {
            if (s.patch) game.LayRelease("A");
        };
        Lines replaced;
        int count = 0;
        {
            SeamGame game;
            layDown(game);
            Lines log = CountingRun(game);
            ASSERT_EQ(game.Installed(s.patch), s.afterwards) << TreeListing(game.File("bin"));
            // The delta made B, not the patch after it.
            if (s.delta) {
                ASSERT_EQ(server.WholePayloadRequests(), 0u);
            }
            replaced = ReplacedInCopyOrder(log);
            count = static_cast<int>(log.size());
        }
        // At least one change per file the run puts in place.
        ASSERT_GT(count, s.patch ? 16 : 20);
        if (s.patch) {
            ASSERT_EQ(replaced.size(), 12u);
        }

        const std::vector<int> points = KillPoints(count, s.delta);
        for (int n : points) {
            SCOPED_TRACE("killed before change " + std::to_string(n));
            SeamGame killed;
            layDown(killed);
            {
                ScopedEnvironmentVariable kill(L"ORVEX_SEAM_KILL_AT", std::to_wstring(n).c_str());
                ASSERT_EQ(killed.StartKilled(), 86u);
            }
            std::string recovered;
            for (Next next : {Next::NoServer, Next::FailingPayload, Next::WorkingServer}) {
                SCOPED_TRACE(Name(next));
                SeamGame copy;
                ASSERT_TRUE(CopyTree(killed.Path(), copy.Path()));
                if (next == Next::NoServer) {
                    server.Close();
                } else if (next == Next::FailingPayload) {
                    ASSERT_TRUE(server.Listen());
                    // A patch cannot replace a held file, so it is rolled back. A package
                    // is never installed over files, so it comes truncated instead.
                    if (s.patch)
                        server.Serve(ReleaseServer::Payload::HoldingAFile,
                                     copy.File("bin\\" + replaced.back()));
                    else
                        server.Serve(ReleaseServer::Payload::Truncated);
                }
                Lines out = copy.Start("next.out");
                server.ReleaseHold();
                server.Serve(ReleaseServer::Payload::Good);
                std::string release = ExpectWholeRelease(copy, out, s.patch);
                // A failing run changes nothing that the start's recovery left.
                if (next == Next::NoServer) recovered = release;
                if (next == Next::FailingPayload) {
                    EXPECT_EQ(release, recovered);
                }
                if (next == Next::WorkingServer) {
                    EXPECT_EQ(release, s.afterwards);
                }
                if (::testing::Test::HasFailure()) return;
            }
        }
        std::cout << "[ KillPoint ] " << s.what << ": " << points.size() << " of " << count
                  << " kill points tried" << std::endl;
        ::testing::Test::RecordProperty(s.delta   ? "delta_kill_points"
                                        : s.patch ? "patch_kill_points"
                                                  : "install_kill_points",
                                        static_cast<int>(points.size()));
    }
}

}  // namespace

// One test per scenario, so each runs under its own time limit in the emulated machine.
TEST(KillPoint, PatchEveryNextStartFindsOneWholeRelease) {
    EveryNextStartFindsOneWholeRelease(kScenarios[0]);
}

TEST(KillPoint, InstallEveryNextStartFindsOneWholeRelease) {
    EveryNextStartFindsOneWholeRelease(kScenarios[1]);
}

TEST(KillPoint, DeltaEveryNextStartFindsOneWholeRelease) {
    EveryNextStartFindsOneWholeRelease(kScenarios[2]);
}
