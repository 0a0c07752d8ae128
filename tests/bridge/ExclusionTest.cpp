// Several games of one installation at once, each a real host process on the same bridge
// file, against one update server: at most one updater changes the installation at a time,
// no game loads the core module while it does, and a game that dies while updating leaves
// no lock behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <functional>

#include "support/GameDir.h"
#include "support/LoopbackHttpServer.h"
#include "support/ScopedHandle.h"
#include "support/TestPaths.h"

namespace {

using Lines = std::vector<std::string>;

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The update server, a thread per connection: the manifest (after the test's hook, if
// any), the package once Release() was called (30 s at most), else 404. It counts the
// package downloads in flight and the most there ever were at once.
class HeldUpdateServer {
  public:
    HeldUpdateServer() : release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        server_.SetConcurrent(true);
        server_.SetHandler([this](const ReceivedRequest& request) { return Answer(request); });
    }
    ~HeldUpdateServer() {
        Release();
        server_.Stop();
        CloseHandle(release_);
    }
    bool Start(std::function<void(int manifestNumber)> hook = nullptr) {
        hook_ = std::move(hook);
        return release_ != nullptr && !package_.empty() && server_.Start(8008);
    }
    void Release() { SetEvent(release_); }
    void WaitReleased() { WaitForSingleObject(release_, 30000); }
    int InFlight() const { return inFlight_; }
    int MaxInFlight() const { return maxInFlight_; }
    size_t Count(const std::string& prefix) const {
        size_t count = 0;
        for (const ReceivedRequest& r : server_.Requests()) count += StartsWith(r.target, prefix);
        return count;
    }

  private:
    ScriptedResponse Answer(const ReceivedRequest& request) {
        if (StartsWith(request.target, "/version.xml?")) {
            if (hook_) hook_(++manifests_);
            return ScriptedResponse::Ok(
                "<root start=\"1\" url=\"http://127.0.0.1:8008/pkg/orvex.7z\" version=\"1.0\"/>");
        }
        if (!StartsWith(request.target, "/pkg/orvex.7z?rand="))
            return ScriptedResponse::WithStatus(404, "Not Found", "");
        int now = ++inFlight_;
        for (int most = maxInFlight_;
             now > most && !maxInFlight_.compare_exchange_weak(most, now);) {
        }
        WaitReleased();
        --inFlight_;
        return ScriptedResponse::Ok(package_);
    }

    HANDLE release_;
    std::string package_ = ReadFileBytes(ArtifactDir() + L"\\package_fixtures\\package.7z");
    std::function<void(int)> hook_;
    std::atomic<int> manifests_{0}, inFlight_{0}, maxInFlight_{0};
    LoopbackHttpServer server_;
};

// Host processes "h0".."h2" of one game, each: init, render 3 s, signal "hN-waited", wait for
// "go", render until the core loads, signal "hN-loaded", wait for "end". Killed if left.
struct Hosts {
    GameDir& game;
    HANDLE process[3] = {};
    ~Hosts() {
        for (int i = 0; i < 3; ++i) Kill(i);
    }
    static std::string Name(int i) { return "h" + std::to_string(i); }
    bool Signalled(int i, const char* what) const {
        return PathExists(game.File(Name(i) + "-" + what));
    }
    void Start(int i, const std::string& beforeRender = "sleep:0") {
        process[i] = game.StartHost(
            {"load", "init:1234:7:9:30:2", beforeRender, "waitcore:dx9:3000",
             "signal:" + Name(i) + "-waited", "waitfile:go:60000", "waitcore:dx9:30000",
             "signal:" + Name(i) + "-loaded", "waitfile:end:60000"},
            Name(i) + ".out");
    }
    Lines Wait(int i) {  // 9 lines; [3] the first render window, [6] the second
        HANDLE p = process[i];
        process[i] = nullptr;
        return game.Wait(p, Name(i) + ".out");
    }
    void Kill(int i) {
        if (process[i] == nullptr) return;
        TerminateProcess(process[i], 9);
        WaitForSingleObject(process[i], 10000);
        CloseHandle(process[i]);
        process[i] = nullptr;
    }
};

void ExpectInstalled(const GameDir& game) {
    std::string log;  // the last runs' failure lines, to tell why when it is not
    for (const std::string& line : game.Lines("bx.log")) log += line + "\n";
    EXPECT_EQ(ReadFileBytes(game.File("bin\\Orvex.dll")),
              ReadFileBytes(ArtifactDir() + L"\\TestCore.dll"))
        << log;
    EXPECT_EQ(ReadFileBytes(game.File("bin\\data\\level.dat")), "level data of version 1.0\n")
        << log;
}

enum When { AtOnce, DuringDownload, AfterALoad };
struct Order {
    const char* what;
    When starts[3];
} const kOrders[] = {
    {"all three together", {AtOnce, AtOnce, AtOnce}},
    {"two during the download", {AtOnce, DuringDownload, DuringDownload}},
    {"one during the download, one after a load", {AtOnce, DuringDownload, AfterALoad}},
};

TEST(Exclusion, OneUpdaterAtATimeAndNoLoadWhileItChangesTheInstallation) {
    for (const char* core : {"", "TestCore.dll"}) {  // nothing installed; a core, no version
        for (const Order& order : kOrders) {
            SCOPED_TRACE(std::string(order.what) + (*core ? ", core installed" : ", no core"));
            HeldUpdateServer server;
            ASSERT_TRUE(server.Start());
            GameDir game(core);
            Hosts hosts{game};
            auto startAll = [&](When when) {
                for (int i = 0; i < 3; ++i)
                    if (order.starts[i] == when) hosts.Start(i);
            };
            startAll(AtOnce);
            ASSERT_TRUE(WaitUntil([&] { return server.InFlight() == 1; }, 60000));
            // A later game may load an installed core before any updater took the lock.
            Lines loadedBefore = game.CoreCalls();
            startAll(DuringDownload);
            for (int i = 0; i < 3; ++i) {
                if (order.starts[i] == AfterALoad) continue;
                ASSERT_TRUE(WaitUntil([&] { return hosts.Signalled(i, "waited"); }, 60000));
                if (order.starts[i] == DuringDownload || !*core) {
                    EXPECT_EQ(game.Lines(Hosts::Name(i) + ".out").at(3), "waitcore absent") << i;
                }
            }
            EXPECT_EQ(server.InFlight(), 1);  // still held: an updater is changing files
            EXPECT_EQ(game.CoreCalls(), loadedBefore);

            server.Release();
            WriteFileBytes(game.File("go"), "");
            ASSERT_TRUE(WaitUntil(
                [&] { return hosts.Signalled(0, "loaded") || hosts.Signalled(1, "loaded"); },
                60000));
            startAll(AfterALoad);
            for (int i = 0; i < 3; ++i)
                ASSERT_TRUE(WaitUntil([&] { return hosts.Signalled(i, "loaded"); }, 60000)) << i;
            WriteFileBytes(game.File("end"), "");
            for (int i = 0; i < 3; ++i) EXPECT_EQ(hosts.Wait(i).at(6), "waitcore loaded") << i;
            EXPECT_EQ(server.MaxInFlight(), 1);
            // Later games may have an installed core loaded before any updater took the
            // lock: an install cannot replace it then and fails, and an updater that gets
            // the lock afterwards (on a slow machine) tries again, one run at a time.
            if (*core)
                EXPECT_LE(server.Count("/pkg/"), 3u);
            else
                EXPECT_EQ(server.Count("/pkg/"), 1u);
            EXPECT_EQ(Starting(game.CoreCalls(), "OrvexInitialize").size(), 3u);
            ExpectInstalled(game);
        }
    }
}

// A game that gets the lock only once another game's install has ended finds it done.
TEST(Exclusion, AGameThatGetsTheLockAfterAnotherInstallDoesNotInstallAgain) {
    GameDir game("");  // outlives the server, whose hook reads it
    HeldUpdateServer server;
    // The second game's manifest is answered once the first game has recorded its install.
    ASSERT_TRUE(server.Start([&](int manifest) {
        if (manifest != 2) return;
        server.Release();
        WaitUntil([&] { return PathExists(game.File("version.bin")); }, 30000);
    }));
    Hosts hosts{game};
    hosts.Start(0);
    ASSERT_TRUE(WaitUntil([&] { return server.InFlight() == 1; }, 60000));
    hosts.Start(1);
    WriteFileBytes(game.File("go"), "");
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(WaitUntil([&] { return hosts.Signalled(i, "loaded"); }, 60000)) << i;
    WriteFileBytes(game.File("end"), "");
    EXPECT_EQ(hosts.Wait(0).at(6), "waitcore loaded");
    EXPECT_EQ(hosts.Wait(1).at(6), "waitcore loaded");
    EXPECT_EQ(server.Count("/pkg/"), 1u);
    ExpectInstalled(game);
}

// A game killed while its updater holds the lock: the mutex, kept open here as by another
// game, is abandoned, and the next game takes it over, installs and loads.
TEST(Exclusion, AGameKilledWhileUpdatingBlocksNoLaterRun) {
    HeldUpdateServer server;
    ASSERT_TRUE(server.Start());
    GameDir game("");
    Hosts hosts{game};
    hosts.Start(0);
    ASSERT_TRUE(WaitUntil([&] { return server.InFlight() == 1; }, 60000));
    ScopedKernelHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, game.UpdateMutexName().c_str()));
    ASSERT_TRUE(mutex.Valid());
    ASSERT_EQ(WaitForSingleObject(mutex.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    hosts.Kill(0);
    server.Release();
    Lines out = game.RunHost({"load", "init:1234:7:9:30:2", "waitcore:dx9:30000"}, "next.out");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2], "waitcore loaded");
    EXPECT_EQ(server.Count("/pkg/"), 2u);
    ExpectInstalled(game);
}

// While nobody updates, only a first instance waits for its own manifest: a later game (the
// mutex already open, here by this process) that renders once its updater has asked for the
// manifest loads while the answer is still on its way.
TEST(Exclusion, OnlyAFirstInstanceWaitsForItsOwnManifest) {
    for (bool later : {false, true}) {
        SCOPED_TRACE(later ? "later game" : "first instance");
        GameDir game;
        WriteFileBytes(game.File("version.bin"), "[conf]\r\nversion=1.0\r\n");
        HeldUpdateServer server;
        ASSERT_TRUE(server.Start([&](int) {
            WriteFileBytes(game.File("asked"), "");
            server.WaitReleased();
        }));
        ScopedKernelHandle keeper(
            later ? CreateMutexW(nullptr, FALSE, game.UpdateMutexName().c_str()) : nullptr);
        Hosts hosts{game};
        hosts.Start(0, "waitfile:asked:60000");
        ASSERT_TRUE(WaitUntil([&] { return hosts.Signalled(0, "waited"); }, 60000));
        server.Release();
        WriteFileBytes(game.File("go"), "");
        WriteFileBytes(game.File("end"), "");
        Lines out = hosts.Wait(0);
        ASSERT_EQ(out.size(), 9u);
        EXPECT_EQ(out[2], "waitfile 1");
        EXPECT_EQ(out[3], later ? "waitcore loaded" : "waitcore absent");
        EXPECT_EQ(out[6], "waitcore loaded");
        EXPECT_EQ(server.Count("/pkg/"), 0u);
    }
}

}  // namespace
