// Many games of one installation at once, and games killed in the middle of a patch, each a
// real host process against one update server: one file-changing download at a time, every
// game reports, every core loads a complete installation, and a killed game's leftovers
// never stop the next run from completing the installation.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "support/GameDir.h"
#include "support/LoopbackHttpServer.h"
#include "support/ScopedHandle.h"
#include "support/TestPaths.h"

namespace {

using Lines = std::vector<std::string>;

std::wstring Fixture(const std::string& name) {
    return ArtifactDir() + L"\\package_fixtures\\" + std::wstring(name.begin(), name.end());
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The update server: the manifest names one payload ("/pkg/<name>") and a version; payloads
// come from the fixtures, each answer held until Release() (when holding) or 300 ms. It
// counts the payload downloads and the most that were ever in flight at once.
class PayloadServer {
  public:
    PayloadServer() : release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        server_.SetConcurrent(true);
        server_.SetHandler([this](const ReceivedRequest& request) { return Answer(request); });
    }
    ~PayloadServer() {
        Release();
        server_.Stop();
        CloseHandle(release_);
    }
    bool Start() { return release_ != nullptr && server_.Start(8008); }
    void Publish(const std::string& payload, const std::string& version, bool hold = false) {
        std::lock_guard<std::mutex> lock(mutex_);
        payload_ = payload;
        version_ = version;
        body_ = ReadFileBytes(Fixture(payload));
        hold_ = hold;
        ResetEvent(release_);
    }
    void Release() { SetEvent(release_); }
    int InFlight() const { return inFlight_; }
    int MaxInFlight() const { return maxInFlight_; }
    size_t Downloads(const std::string& payload) const {
        size_t count = 0;
        for (const ReceivedRequest& r : server_.Requests())
            count += StartsWith(r.target, "/pkg/" + payload + "?");
        return count;
    }

  private:
    ScriptedResponse Answer(const ReceivedRequest& request) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (StartsWith(request.target, "/version.xml?")) {
            return ScriptedResponse::Ok("<root start=\"1\" url=\"http://127.0.0.1:8008/pkg/" +
                                        payload_ + "\" version=\"" + version_ + "\"/>");
        }
        if (!StartsWith(request.target, "/pkg/" + payload_ + "?"))
            return ScriptedResponse::WithStatus(404, "Not Found", "");
        std::string body = body_;
        bool hold = hold_;
        mutex_.unlock();
        int now = ++inFlight_;
        for (int most = maxInFlight_;
             now > most && !maxInFlight_.compare_exchange_weak(most, now);) {
        }
        WaitForSingleObject(release_, hold ? 60000 : 300);
        --inFlight_;
        mutex_.lock();
        return ScriptedResponse::Ok(body);
    }

    std::mutex mutex_;
    HANDLE release_;
    std::string payload_, version_, body_;
    bool hold_ = false;
    std::atomic<int> inFlight_{0}, maxInFlight_{0};
    LoopbackHttpServer server_;
};

// What each load of the core found in data\level.dat, one file per process.
Lines SeenInstallations(const GameDir& game) {
    Lines seen;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(game.File("seen-*.txt").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return seen;
    do {
        seen.push_back(ReadFileBytes(game.File(Narrow(found.cFileName))));
        DeleteFileW(game.File(Narrow(found.cFileName)).c_str());
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return seen;
}

std::string Level(const std::string& version) { return "level data of version " + version + "\n"; }

// Round 1 installs version 1.0 from nothing; rounds 2 to 5 each patch to the next version.
// Eight games start together in every round.
TEST(ManyGames, EightGamesStartedTogetherInFiveRounds) {
    PayloadServer server;
    ASSERT_TRUE(server.Start());
    GameDir game("");
    constexpr int kGames = 8;
    for (int round = 1; round <= 5; ++round) {
        std::string version = "1." + std::to_string(round - 1);
        std::string payload = round == 1 ? "package.7z" : "patch_" + version + ".7z";
        SCOPED_TRACE("round " + std::to_string(round) + ", version " + version);
        server.Publish(payload, version);
        std::string before = ReadFileBytes(game.File("bin\\data\\level.dat"));
        HANDLE hosts[kGames] = {};
        for (int i = 0; i < kGames; ++i) {
            hosts[i] =
                game.StartHost({"load", "init:1234:7:9:30:2", "waitcore:dx9:90000"},
                               "r" + std::to_string(round) + "h" + std::to_string(i) + ".out");
        }
        for (int i = 0; i < kGames; ++i) {
            Lines out =
                game.Wait(hosts[i], "r" + std::to_string(round) + "h" + std::to_string(i) + ".out");
            ASSERT_EQ(out.size(), 3u) << i;
            EXPECT_EQ(out[2], "waitcore loaded") << i;
        }
        EXPECT_EQ(server.Downloads(payload), 1u);
        EXPECT_EQ(ReadFileBytes(game.File("bin\\data\\level.dat")), Level(version));
        // A game may load the complete installation from before the update, never a mix.
        Lines seen = SeenInstallations(game);
        EXPECT_EQ(seen.size(), static_cast<size_t>(kGames));
        for (const std::string& level : seen)
            EXPECT_TRUE(level == Level(version) || (round > 1 && level == before)) << level;
    }
    EXPECT_EQ(server.MaxInFlight(), 1);
    EXPECT_EQ(ReadFileBytes(game.File("bin\\Orvex.dll")),
              ReadFileBytes(ArtifactDir() + L"\\TestCore.dll"));
}

constexpr int kBulkFiles = ORVEX_BULK_FILES;  // as many as the fixture script made
constexpr size_t kBulkFileSize = 512 * 1024;

std::wstring BulkFile(const GameDir& game, int i) {
    char name[32];
    std::snprintf(name, sizeof(name), "bin\\data\\f%03d.bin", i);
    return game.File(name);
}

// Installed bulk files whose first byte is `content`: cheap enough to poll during a copy.
int FilesStartingWith(const GameDir& game, char content) {
    int count = 0;
    for (int i = 1; i <= kBulkFiles; ++i) {
        ScopedFile file(CreateFileW(BulkFile(game, i).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
        char first = 0;
        DWORD got = 0;
        count += file.Valid() && ReadFile(file.Get(), &first, 1, &got, nullptr) && got == 1 &&
                 first == content;
    }
    return count;
}

// Installed bulk files that are whole and all `content`.
int FilesWith(const GameDir& game, char content) {
    int count = 0;
    for (int i = 1; i <= kBulkFiles; ++i) {
        std::string bytes = ReadFileBytes(BulkFile(game, i));
        count +=
            bytes.size() == kBulkFileSize && bytes.find_first_not_of(content) == std::string::npos;
    }
    return count;
}

// A game killed while it downloads the patch, or while it copies the patch's files over the
// installation. The next game (the mutex kept open here, as by another running game, so it
// is handed over abandoned) clears the leftovers, patches again and loads.
TEST(ManyGames, AGameKilledMidPatchLeavesTheNextRunToCompleteIt) {
    for (bool duringCopy : {false, true}) {
        SCOPED_TRACE(duringCopy ? "killed during the copy" : "killed during the download");
        PayloadServer server;
        ASSERT_TRUE(server.Start());
        GameDir game("");
        server.Publish("bulk.7z", "1.0");
        Lines first = game.RunHost({"load", "init:1234:7:9:30:2", "waitcore:dx9:60000"});
        ASSERT_EQ(first.size(), 3u);
        ASSERT_EQ(first[2], "waitcore loaded");
        ASSERT_EQ(FilesWith(game, 'a'), kBulkFiles);

        server.Publish("bulk_patch.7z", "1.1", !duringCopy);
        HANDLE victim =
            game.StartHost({"load", "init:1234:7:9:30:2", "waitcore:dx9:60000"}, "victim.out");
        ASSERT_NE(victim, nullptr);
        ScopedKernelHandle kept;
        if (duringCopy) {
            ASSERT_TRUE(WaitUntil([&] { return FilesStartingWith(game, 'b') > 0; }, 60000));
        } else {
            ASSERT_TRUE(WaitUntil([&] { return server.InFlight() == 1; }, 60000));
        }
        kept.Reset(OpenMutexW(SYNCHRONIZE, FALSE, game.UpdateMutexName().c_str()));
        TerminateProcess(victim, 9);
        WaitForSingleObject(victim, 10000);
        CloseHandle(victim);
        ASSERT_TRUE(kept.Valid());
        int patched = FilesStartingWith(game, 'b');
        if (duringCopy) {
            EXPECT_GT(patched, 0);
            EXPECT_LT(patched, kBulkFiles);  // caught in the middle, not after the copy
        } else {
            EXPECT_EQ(patched, 0);
        }
        server.Release();
        HANDLE next = game.StartHost(
            {"load", "init:1234:7:9:30:2", "waitcore:dx9:60000", "waitfile:end:120000"},
            "next.out");
        EXPECT_TRUE(WaitUntil(
            [&] {
                return ReadFileBytes(game.File("version.bin")).find("version=1.1") !=
                       std::string::npos;
            },
            120000))
            << ReadFileBytes(game.File("bx.log"));
        WriteFileBytes(game.File("end"), "");
        Lines out = game.Wait(next, "next.out");
        ASSERT_EQ(out.size(), 4u);
        EXPECT_EQ(out[2], "waitcore loaded");
        EXPECT_EQ(FilesWith(game, 'b'), kBulkFiles);
        EXPECT_EQ(server.Downloads("bulk_patch.7z"), 2u);
    }
}

}  // namespace
