// Repair of marked files against a real server that misbehaves in every way a network can:
// each try is verified before it replaces anything, and a file is tried at most three times.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/FileDigest.h"
#include "support/TestDigest.h"
#include "support/LoopbackHttpServer.h"
#include "support/ScopedEnvironment.h"
#include "support/ScopedHandle.h"
#include "support/TestPaths.h"
#include "updater/FileRepair.h"
#include "updater/UpdaterState.h"

namespace {

const std::string kOld = "old damaged content";
const std::string kGood = "the good copy of the file";

// The codes of the "get file check list failed(%d)" lines, -1 for any other line.
std::vector<int> LoggedCodes(const std::wstring& log) {
    std::vector<int> codes;
    const std::string prefix = "get file check list failed(";
    for (const std::string& line : ReadLines(log)) {
        bool ours = line.compare(0, prefix.size(), prefix) == 0 && line.back() == ')';
        codes.push_back(ours ? std::atoi(line.c_str() + prefix.size()) : -1);
    }
    return codes;
}

class Repair : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir.empty());
        CreateDirectoryW((dir + L"\\bin").c_str(), nullptr);
        WriteFileBytes(Installed("f.dat"), kOld);
        TheUpdaterState().Clear();
        TheUpdaterState().installDir = dir + L"\\bin\\";
        ASSERT_TRUE(server.Start());
    }
    void TearDown() override { server.Stop(); }

    std::wstring Installed(const std::string& name) const {
        return dir + L"\\bin\\" + std::wstring(name.begin(), name.end());
    }
    void Mark(const std::string& name, const std::string& path) {
        CheckFileRecord record;
        record.name.assign(name.begin(), name.end());
        record.remote_file_url = server.Url(path);
        record.md5 = Md5Text(kGood);
        record.needs_repair = true;
        TheUpdaterState().checkFiles.push_back(record);
    }
    std::vector<int> Codes() const { return LoggedCodes(dir + L"\\bx.log"); }

    // Three failed tries, each logged with a non-zero code; the old file is untouched.
    void ExpectBoundedFailure(const char* what, int expectedCode) {
        EXPECT_EQ(server.RequestCount(), 3u) << what;
        std::vector<int> codes = Codes();
        ASSERT_EQ(codes.size(), 3u) << what;
        for (int code : codes) {
            EXPECT_GT(code, 0) << what;
            if (expectedCode != 0) {
                EXPECT_EQ(code, expectedCode) << what;
            }
        }
        EXPECT_EQ(ReadFileBytes(Installed("f.dat")), kOld) << what;
        EXPECT_FALSE(PathExists(Installed("f.dat.download"))) << what;
    }

    LoopbackHttpServer server;
    ScratchWorkDir work{L"repair"};
    const std::wstring dir = work.Path();
};

TEST_F(Repair, GoodCopyReplacesTheFileWithOneRequestWithoutQuery) {
    server.Respond(ScriptedResponse::Ok(kGood));
    Mark("f.dat", "/files/f.dat");
    EXPECT_TRUE(RepairFiles());
    EXPECT_EQ(ReadFileBytes(Installed("f.dat")), kGood);
    std::vector<ReceivedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/files/f.dat");
    EXPECT_TRUE(Codes().empty());
    EXPECT_FALSE(PathExists(Installed("f.dat.download")));
}

TEST_F(Repair, EveryBadAnswerIsBoundedAndDestroysNothing) {
    ScriptedResponse chunked404 = ScriptedResponse::WithStatus(404, "Not Found", "gone");
    chunked404.chunked = true;
    ScriptedResponse dropped;
    dropped.closeWithoutAnswer = true;
    ScriptedResponse empty = ScriptedResponse::Ok("");
    struct Case {
        const char* what;
        ScriptedResponse response;
        int code;  // 0: any non-zero code
    } cases[] = {
        {"404 with a body", ScriptedResponse::WithStatus(404, "Not Found", "<h1>404</h1>"),
         ERROR_CRC},
        {"404 without Content-Length", chunked404, 12150},
        {"dropped connection", dropped, 0},
        {"wrong content", ScriptedResponse::Ok("tampered"), ERROR_CRC},
        {"empty body", empty, ERROR_CRC},
    };
    for (const Case& c : cases) {
        server.Stop();
        ASSERT_TRUE(server.Start());
        DeleteFileW((dir + L"\\bx.log").c_str());
        TheUpdaterState().checkFiles.clear();
        server.Respond(c.response);
        Mark("f.dat", "/f.dat");
        EXPECT_TRUE(RepairFiles());
        ExpectBoundedFailure(c.what, c.code);
    }
}

TEST_F(Repair, WrongCopyThenGoodCopyEndsWithTheGoodCopy) {
    int served = 0;
    server.SetHandler([&served](const ReceivedRequest&) {
        return ScriptedResponse::Ok(served++ == 0 ? "tampered" : kGood);
    });
    Mark("f.dat", "/f.dat");
    RepairFiles();
    EXPECT_EQ(ReadFileBytes(Installed("f.dat")), kGood);
    EXPECT_EQ(server.RequestCount(), 2u);
    EXPECT_EQ(Codes(), std::vector<int>{ERROR_CRC});
}

TEST_F(Repair, AFileThatKeepsFailingDoesNotStopTheNext) {
    server.SetHandler([](const ReceivedRequest& request) {
        if (request.target == "/missing") return ScriptedResponse::WithStatus(404, "No", "");
        return ScriptedResponse::Ok(kGood);
    });
    Mark("f.dat", "/missing");
    Mark("sub\\dir/new.dat", "/new");  // its directories do not exist yet
    RepairFiles();
    EXPECT_EQ(ReadFileBytes(Installed("f.dat")), kOld);
    EXPECT_EQ(ReadFileBytes(Installed("sub\\dir\\new.dat")), kGood);
    EXPECT_EQ(server.RequestCount(), 4u);
    EXPECT_EQ(Codes().size(), 3u);
}

TEST_F(Repair, ReadOnlyFileIsReplacedAndStaysReadOnly) {
    SetFileAttributesW(Installed("f.dat").c_str(), FILE_ATTRIBUTE_READONLY);
    server.Respond(ScriptedResponse::Ok(kGood));
    Mark("f.dat", "/f.dat");
    RepairFiles();
    EXPECT_EQ(ReadFileBytes(Installed("f.dat")), kGood);
    DWORD attributes = GetFileAttributesW(Installed("f.dat").c_str());
    EXPECT_NE(attributes & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_TRUE(Codes().empty());
}

TEST_F(Repair, LockedFileIsLeftAsItWas) {
    server.Respond(ScriptedResponse::Ok(kGood));
    Mark("f.dat", "/f.dat");
    {
        ScopedFile lock(CreateFileW(Installed("f.dat").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(lock.Valid());
        RepairFiles();
    }
    ExpectBoundedFailure("locked target", 0);
}

// Slow (each try waits out the session's receive time-out), so a group of its own.
class StalledRepair : public Repair {};

TEST_F(StalledRepair, BodyIsBoundedToo) {
    // Half the body, then a pause longer than the receive time-out. The server serves one
    // connection at a time, so the pause also bounds how long the next try waits for it.
    ScriptedResponse stalled = ScriptedResponse::Ok("12345678");
    stalled.pieceSize = 4;
    stalled.pieceDelayMs = 15000;
    server.Respond(stalled);
    Mark("f.dat", "/f.dat");
    RepairFiles();
    ExpectBoundedFailure("stalled body", 0);  // the time-out's code differs by platform
}

TEST_F(StalledRepair, PassStopsAtItsDeadlineAndLeavesTheRestAlone) {
    // A host that takes the connection and the request and never answers.
    ScriptedResponse silent = ScriptedResponse::Ok(kGood);
    silent.answerDelayMs = 600000;
    server.Respond(silent);
    constexpr int kFiles = 50;
    auto name = [](int i) { return "f" + std::to_string(i) + ".dat"; };
    for (int i = 0; i < kFiles; ++i) {
        ASSERT_TRUE(WriteFileBytes(Installed(name(i)), kOld));
        Mark(name(i), "/" + name(i));
    }

    // The test build's RepairPassDeadlineMs() reads it.
    ScopedEnvironmentVariable deadline(L"ORVEX_SEAM_REPAIR_DEADLINE_MS", L"3000");
    ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(RepairFiles());
    // A 3 s pass whose last try is clamped to the time left; unclamped, the first try alone
    // would wait out the 10 s receive time-out, and the whole pass 50 x 3 of them.
    EXPECT_LT(GetTickCount64() - start, 9000u);

    std::vector<std::string> lines = ReadLines(dir + L"\\bx.log");
    ASSERT_GE(lines.size(), 2u) << "at least one failed try, then the deadline";
    EXPECT_EQ(lines.back(), "repair pass deadline reached(50)");
    std::vector<int> codes = Codes();
    EXPECT_TRUE(std::all_of(codes.begin(), codes.end() - 1, [](int c) { return c > 0; }));
    for (int i = 0; i < kFiles; ++i) {
        EXPECT_EQ(ReadFileBytes(Installed(name(i))), kOld) << name(i);
        EXPECT_FALSE(PathExists(Installed(name(i) + ".download"))) << name(i);
    }
}

}  // namespace
