// Delta patches through the real DLL in a host process: an installation of 1.0.0, a manifest
// offering 1.0.2 as a whole-file patch and as a delta from 1.0.0, and the archives that
// make_deltas.sh built with the real zstd and 7zz. A good delta rebuilds every file and the
// patch is never fetched; a delta that cannot be used is logged once, leaves nothing behind
// and the installation as it was, and the whole-file patch follows in the same run.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>

#include "support/GameDir.h"
#include "support/LoopbackHttpServer.h"
#include "support/PathUtils.h"
#include "support/TestDigest.h"
#include "support/TestPaths.h"

namespace {

using Lines = std::vector<std::string>;
using Tree = std::map<std::string, std::string>;

std::wstring Fixture(const std::string& name) {
    return ArtifactDir() + L"\\delta_fixtures\\" + std::wstring(name.begin(), name.end());
}

// A tree's files by name, each as its MD5, so a difference reads as names and digests.
Tree Digests(const std::wstring& dir) {
    Tree digests;
    for (const auto& [name, bytes] : FileTreeBytes(dir)) digests[name] = Md5Text(bytes);
    return digests;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The update server: the manifest, the patch (or a 404 while it is withheld) and one delta.
class DeltaServer {
  public:
    DeltaServer(const std::string& delta, bool patchWithheld) {
        std::string manifest =
            "<root start=\"1\" url=\"http://127.0.0.1:8008/patches/patch.7z\" version=\"1.0.2\">"
            "<delta from=\"1.0.0\" url=\"http://127.0.0.1:8008/deltas/" +
            delta + ".7z\" sha256=\"" + ReadLines(Fixture(delta + ".sha256")).at(0) + "\"/></root>";
        std::string patch = ReadFileBytes(Fixture("patch.7z"));
        std::string archive = ReadFileBytes(Fixture(delta + ".7z"));
        server_.SetHandler([=](const ReceivedRequest& r) {
            if (StartsWith(r.target, "/version.xml?")) return ScriptedResponse::Ok(manifest);
            if (StartsWith(r.target, "/deltas/")) return ScriptedResponse::Ok(archive);
            if (StartsWith(r.target, "/patches/") && !patchWithheld)
                return ScriptedResponse::Ok(patch);
            return ScriptedResponse::WithStatus(404, "Not Found", "<h1>gone</h1>");
        });
    }
    bool Start() { return server_.Start(8008); }
    size_t Requests(const std::string& prefix) const {
        size_t count = 0;
        for (const ReceivedRequest& r : server_.Requests()) count += StartsWith(r.target, prefix);
        return count;
    }

  private:
    LoopbackHttpServer server_;
};

// A game with 1.0.0 installed, one of its files damaged when asked.
struct DeltaGame : GameDir {
    explicit DeltaGame(bool damageBase) : GameDir("") {
        for (const auto& [name, bytes] : FileTreeBytes(Fixture("1.0.0"))) {
            CreateDirectoryPath(GetParentPath(File("bin\\" + name)).c_str());
            WriteFileBytes(File("bin\\" + name), bytes);
        }
        WriteFileBytes(File("version.bin"), "[conf]\r\nversion=1.0.0\r\n");
        if (damageBase) WriteFileBytes(File("bin\\data\\level.dat"), "damaged");
    }
    Tree Installed() const {
        Tree tree = Digests(File("bin"));
        tree.erase("core_calls.log");
        return tree;
    }
    // One run to its end: the core loads once the update has reported.
    void Run() {
        std::vector<std::string> out =
            RunHost({"load", "init:1234:7:9:30:2", "waitcore:dx9:30000"});
        ASSERT_EQ(out.size(), 3u);
        EXPECT_EQ(out[2], "waitcore loaded");
        // Nothing of the delta stays: no archive, no partial download, no work area.
        for (const char* left : {"patch\\delta.7z", "patch\\delta.7z.download",
                                 "patch\\delta.7z.download.resume", "OrvexBridge.update"})
            EXPECT_FALSE(PathExists(File(left))) << left;
    }
    bool VersionIs(const std::string& version) const {
        std::vector<std::string> record = Lines("version.bin");
        return std::count(record.begin(), record.end(), "version=" + version) == 1;
    }
};

TEST(Delta, RebuildsEveryFileWithoutThePatch) {
    DeltaServer server("good", false);
    ASSERT_TRUE(server.Start());
    DeltaGame game(false);
    game.Run();
    EXPECT_EQ(game.Installed(), Digests(Fixture("1.0.2")));
    EXPECT_TRUE(game.VersionIs("1.0.2"));
    EXPECT_TRUE(game.Lines("bx.log").empty());
    EXPECT_EQ(server.Requests("/deltas/good.7z?tick="), 1u);
    EXPECT_EQ(server.Requests("/patches/"), 0u);
}

// Each refused delta, first with the patch withheld (the installation must be as it was),
// then with it served (the run ends on 1.0.2 all the same).
TEST(Delta, RefusedDeltasFallBackToThePatch) {
    const struct {
        const char* delta;
        bool damageBase;
        const char* why;
    } cases[] = {
        {"good", true, "base sha256: data\\level.dat"},
        {"corrupt", false, "decode: data\\level.dat"},
        {"over_cap", false, "frame window too large: data\\big.bin"},
        {"low_window", false, "frame window too large: data\\big.bin"},
        {"wrong_size", false, "frame size differs: data\\level.dat"},
        {"extra_entry", false, "archive entries"},
        {"dot_dot", false, "index"},
        {"wrong_from", false, "index from"},
    };
    for (const auto& c : cases) {
        for (bool patchWithheld : {true, false}) {
            SCOPED_TRACE(std::string(c.delta) + (patchWithheld ? ", patch withheld" : ""));
            DeltaServer server(c.delta, patchWithheld);
            ASSERT_TRUE(server.Start());
            DeltaGame game(c.damageBase);
            const Tree before = game.Installed();
            game.Run();
            EXPECT_EQ(Starting(game.Lines("bx.log"), "update delta failed"),
                      Lines{std::string("update delta failed (") + c.why + ")"});
            EXPECT_EQ(server.Requests("/patches/patch.7z?tick="), 1u);
            EXPECT_EQ(game.Installed(), patchWithheld ? before : Digests(Fixture("1.0.2")));
            EXPECT_TRUE(game.VersionIs(patchWithheld ? "1.0.0" : "1.0.2"));
        }
    }
}

}  // namespace
