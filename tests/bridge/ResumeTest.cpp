// Package and patch downloads that are cut off continue where they stopped, in the same run
// and at the next start, through the real DLL in a host process. An answer that does not
// prove it continues the same file (a 200, another file's tag, a wrong Content-Range) starts
// the file over and is never spliced on; bytes changed on disk between starts are refused by
// the digest and fetched whole again.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "SignedGame.h"
#include "support/LoopbackHttpServer.h"
#include "support/ServedTree.h"
#include "support/TestPaths.h"

namespace {

using Lines = std::vector<std::string>;
const Lines kRun = {"load", "init:1234:7:9:30:2", "waitcore:dx9:20000"};
const char kPlainManifest[] =
    "<root start=\"1\" url=\"http://127.0.0.1:8008/pkg/orvex.7z\" version=\"1.0\"/>";

enum class Game { Plain, SignedInstall, SignedPatch };

struct Case {
    const char* what;
    Game game;
    // The acts on each start's payload requests, in order, the last repeating: 'S' serve as
    // a static file server (the rest for a range), 'C' that cut after 30% of its body, 'U'
    // that without its ETag, 'W' the whole file with a 200, 'X' a 206 from one byte before
    // the asked start, 'N' another file (a new tag) from now on. A second start only when
    // second is not empty; '*' before it changes a byte of the partial file in between.
    const char* first;
    const char* second;
    const char* ranges;  // per payload request: 'R' asked for a range, '-' for the whole
    size_t failures;     // "DownloadFile" lines of the last start
};

std::string Fixture(const std::wstring& name) {
    return ReadFileBytes(ArtifactDir() + L"\\package_fixtures\\" + name);
}

class PayloadServer {
  public:
    explicit PayloadServer(Game game)
        : game_(game),
          prefix_(game == Game::Plain           ? "/pkg/"
                  : game == Game::SignedInstall ? "/packages/"
                                                : "/patches/"),
          package_(Fixture(L"package.7z")),
          other_(Fixture(L"patch_1.1.7z")) {}

    bool IsPayload(const std::string& target) const {
        return target.compare(0, prefix_.size(), prefix_) == 0;
    }

    // This start's handler: the payload requests get acts in order, the last repeating.
    void Serve(LoopbackHttpServer& server, const std::string& acts) {
        auto count = std::make_shared<size_t>(0);
        server.SetHandler([this, acts, count](const ReceivedRequest& request) {
            if (!IsPayload(request.target)) return Answer(request);
            char act = acts[*count < acts.size() ? *count : acts.size() - 1];
            ++*count;
            changed_ = changed_ || act == 'N';
            ReceivedRequest asked = request;
            if (act == 'W') asked.headers.clear();
            if (act == 'X' && request.HasHeader("Range")) {
                const unsigned long long start =
                    std::strtoull(request.Header("Range").c_str() + 6, nullptr, 10);
                asked.headers = {{"Range", "bytes=" + std::to_string(start - 1) + "-"}};
            }
            ScriptedResponse answer = Answer(asked);
            if (act == 'U') {  // no tag: nothing can prove a later range is the same file
                answer.headers.clear();
                act = 'C';
            }
            if (act == 'C') {
                // In pieces with pauses, so the bytes before the reset reach the game first.
                answer.resetAfterBytes = answer.body.size() * 3 / 10;
                answer.pieceSize = answer.resetAfterBytes / 3 + 1;
                answer.pieceDelayMs = 150;
            }
            return answer;
        });
    }

    ScriptedResponse Answer(const ReceivedRequest& request) const {
        if (game_ != Game::Plain)
            return TreeAnswer(SignedFixture(game_ == Game::SignedInstall ? L"tree1" : L"tree2"),
                              request);
        if (request.target.compare(0, 13, "/version.xml?") == 0)
            return ScriptedResponse::Ok(kPlainManifest);
        if (request.target.compare(0, 5, "/pkg/") != 0)
            return ScriptedResponse::WithStatus(404, "Not Found", "");
        const std::string& bytes = changed_ ? other_ : package_;
        return ScriptedResponse::ForFile(request, bytes, FileTag(bytes));
    }

  private:
    Game game_;
    std::string prefix_, package_, other_;
    bool changed_ = false;  // only the server's thread, one request at a time
};

// The payload's partial file in the game.
std::string PartialName(Game game) {
    return game == Game::SignedPatch ? "patch\\patch.7z.download" : "orvex_packet.7z.download";
}

void ExpectUpdated(const GameDir& game, const Case& c) {
    if (c.game != Game::Plain) {
        ExpectInstalled(static_cast<const SignedGame&>(game),
                        c.game == Game::SignedInstall ? L"1.0.0" : L"1.0.1");
        return;
    }
    // Never a splice of the two files: exactly the one served whole last.
    EXPECT_EQ(
        ReadFileBytes(game.File("bin\\data\\level.dat")),
        std::strchr(c.first, 'N') ? "level data of version 1.1\n" : "level data of version 1.0\n");
}

TEST(Resume, CutDownloadsContinueOnlyWhereTheSameFileIsProven) {
    const Case cases[] = {
        {"cut at 30%, continued in the same run", Game::SignedInstall, "CS", "", "-R", 1},
        {"a cut patch, continued in the same run", Game::SignedPatch, "CS", "", "-R", 1},
        {"no tag and no digest: started over", Game::Plain, "US", "", "--", 1},
        {"the range answered with the whole file", Game::Plain, "CW", "", "-R", 1},
        {"the file changed between attempts", Game::Plain, "CN", "", "-R", 1},
        {"a 206 from the wrong start", Game::Plain, "CXS", "", "-R-", 2},
        {"cut at each attempt, continued at the next start", Game::Plain, "C", "S", "-RRR", 0},
        {"partial bytes changed on disk between starts", Game::SignedInstall, "C", "*S", "-RRR-",
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PayloadServer payload(c.game);  // outlives the server that calls it
        LoopbackHttpServer server;
        ASSERT_TRUE(server.Start(8008));
        // The plain bridge takes a manifest without digests; the keyed one needs them.
        std::unique_ptr<GameDir> plain;
        std::unique_ptr<SignedGame> keyed;
        if (c.game == Game::Plain) {
            plain = std::make_unique<GameDir>();
        } else {
            keyed = std::make_unique<SignedGame>();
        }
        GameDir& game = plain ? *plain : *keyed;
        if (c.game == Game::SignedPatch) keyed->Lay(L"1.0.0");
        const std::string partial = PartialName(c.game);

        payload.Serve(server, c.first);
        Lines out = game.RunHost(kRun, "first.out");
        ASSERT_EQ(out.size(), 3u);
        EXPECT_EQ(out[2], "waitcore loaded");
        unsigned long long kept = 0;
        const bool alter = c.second[0] == '*';
        if (c.second[0] != '\0') {
            // What the first start leaves: the partial file and its record, no package.
            EXPECT_FALSE(PathExists(game.File("orvex_packet.7z")));
            std::string bytes = ReadFileBytes(game.File(partial));
            ASSERT_FALSE(bytes.empty());
            ASSERT_TRUE(PathExists(game.File(partial + ".resume")));
            kept = bytes.size();
            if (alter) {
                bytes[bytes.size() / 2] ^= 0x20;
                ASSERT_TRUE(WriteFileBytes(game.File(partial), bytes));
            }
            payload.Serve(server, c.second + alter);
            out = game.RunHost(kRun, "second.out");
            ASSERT_EQ(out.size(), 3u);
            EXPECT_EQ(out[2], "waitcore loaded");
        }

        ExpectUpdated(game, c);
        EXPECT_FALSE(PathExists(game.File(partial)));
        EXPECT_FALSE(PathExists(game.File(partial + ".resume")));
        EXPECT_FALSE(PathExists(game.File("orvex_packet.7z")));

        std::string ranges;
        std::vector<std::string> asked;
        for (const ReceivedRequest& r : server.Requests()) {
            if (!payload.IsPayload(r.target)) continue;
            std::string range = r.Header("Range");
            ranges += range.empty() ? '-' : 'R';
            if (!range.empty()) {
                asked.push_back(range);
                EXPECT_FALSE(r.Header("If-Range").empty()) << range;
                EXPECT_NE(range, "bytes=0-");
            }
        }
        EXPECT_EQ(ranges, c.ranges);
        // The next start asks for the rest of exactly what the first one kept.
        if (c.second[0] != '\0' && asked.size() > 2) {
            EXPECT_EQ(asked[2], "bytes=" + std::to_string(kept) + "-");
        }

        Lines log = game.Lines("bx.log");
        size_t failures = 0, mismatches = 0;
        for (const std::string& line : log) {
            failures += line.find("DownloadFile") != std::string::npos;
            mismatches += line.compare(0, 16, "sha256 mismatch ") == 0;
        }
        EXPECT_EQ(failures, c.failures) << ::testing::PrintToString(log);
        EXPECT_EQ(mismatches, alter ? 1u : 0u) << ::testing::PrintToString(log);
    }
}

}  // namespace
