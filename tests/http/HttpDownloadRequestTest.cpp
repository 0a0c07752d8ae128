#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

#include <memory>
#include <string>
#include <vector>

#include "http/HttpDownloadRequest.h"
#include "http/HttpSession.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestPaths.h"

namespace {

const std::string kGzipBody(
    "\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\xb3\x29\x4b\x2d\x2a\xce\xcc\xcf\xb3\x33\xd4\x33"
    "\xb0\xd1\x87\x71\x00\x40\xe2\x20\xab\x16\x00\x00\x00",
    35);

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    return bytes;
}

// True when nobody holds the file open in a way that keeps readers out. The download keeps
// its target without read sharing, so this tells whether it was closed.
bool ClosedForReaders(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

class Download : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = MakeScratchDir(L"http");
        ASSERT_FALSE(dir.empty());
        target = dir + L"\\target.bin";
        ASSERT_TRUE(server.Start());
        ASSERT_TRUE(session.Open());
        session.SetTimeouts(10000, 10000, 10000, 10000);
        request = std::make_unique<vek::HttpDownloadRequest>(&session, 10240);
    }
    void TearDown() override {
        request.reset();
        RemoveTree(dir);
    }

    // The sequence every download follows: target file, open, send without a body.
    bool Fetch(const std::string& pathAndQuery) {
        return request->OpenTargetFile(target.c_str()) &&
               request->Open(server.Url(pathAndQuery).c_str(), vek::HttpRequest::VerbGet) &&
               request->Send(nullptr, 0);
    }

    std::wstring dir;
    std::wstring target;
    LoopbackHttpServer server;
    HttpSession session;
    std::unique_ptr<vek::HttpDownloadRequest> request;
};

}  // namespace

TEST_F(Download, CompleteBodiesLandInTheFile) {
    // Sizes around the initial chunk buffer, sent whole and in small pieces.
    for (std::size_t size :
         {std::size_t{1}, std::size_t{8192}, std::size_t{8193}, std::size_t{300000}}) {
        for (std::size_t piece : {std::size_t{0}, std::size_t{1000}}) {
            SCOPED_TRACE(std::to_string(size) + " in pieces of " + std::to_string(piece));
            request = std::make_unique<vek::HttpDownloadRequest>(&session, 10240);
            ScriptedResponse response = ScriptedResponse::Ok(Pattern(size));
            response.pieceSize = piece;
            server.Respond(response);
            ASSERT_TRUE(Fetch("/package.7z?tick=77"));
            EXPECT_TRUE(ClosedForReaders(target));
            EXPECT_EQ(ReadFileBytes(target), response.body);
        }
    }
    EXPECT_EQ(server.Requests().back().method, "GET");
    EXPECT_EQ(server.Requests().back().target, "/package.7z?tick=77");
}

TEST_F(Download, EmptyAndErrorBodiesCountWhenTheirLengthMatches) {
    server.Respond(ScriptedResponse::Ok(""));
    ASSERT_TRUE(Fetch("/empty"));
    EXPECT_TRUE(ClosedForReaders(target));
    EXPECT_EQ(ReadFileBytes(target), "");

    const std::string page = "<html><body>404 Not Found</body></html>";
    server.Respond(ScriptedResponse::WithStatus(404, "Not Found", page));
    request = std::make_unique<vek::HttpDownloadRequest>(&session, 10240);
    ASSERT_TRUE(Fetch("/missing.xml"));
    EXPECT_EQ(ReadFileBytes(target), page);

    // Compressed bodies are stored as they came.
    ScriptedResponse gzip = ScriptedResponse::Ok(kGzipBody);
    gzip.headers = {{"Content-Encoding", "gzip"}};
    server.Respond(gzip);
    request = std::make_unique<vek::HttpDownloadRequest>(&session, 10240);
    ASSERT_TRUE(Fetch("/version.xml"));
    EXPECT_EQ(ReadFileBytes(target), kGzipBody);
}

TEST_F(Download, BodyWithoutContentLengthFailsBeforeWriting) {
    ASSERT_TRUE(WriteFileBytes(target, "previous contents"));
    ScriptedResponse chunked = ScriptedResponse::Ok("a complete but unannounced body");
    chunked.chunked = true;
    server.Respond(chunked);

    EXPECT_FALSE(Fetch("/chunked"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_HEADER_NOT_FOUND));
    // The file stays open (and truncated) until the caller closes it.
    EXPECT_FALSE(ClosedForReaders(target));
    request->CloseTargetFile();
    request->CloseTargetFile();
    EXPECT_TRUE(ClosedForReaders(target));
    EXPECT_EQ(ReadFileBytes(target), "");
}

TEST_F(Download, BodyThatDoesNotMatchItsLengthFails) {
    // Cut short: the server closes after part of the announced body.
    ScriptedResponse cut = ScriptedResponse::Ok(Pattern(3000));
    cut.headers = {{"Content-Length", "10000"}};
    server.Respond(cut);
    ASSERT_TRUE(WriteFileBytes(target, std::string(20000, 'x')));
    SetLastError(ERROR_INSUFFICIENT_BUFFER);  // what a header size probe leaves behind
    EXPECT_FALSE(Fetch("/cut"));
    const DWORD reason = GetLastError();  // a definite one, never the stale code
    EXPECT_NE(reason, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_NE(reason, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_TRUE(ClosedForReaders(target));
    EXPECT_EQ(ReadFileBytes(target), cut.body);

    // A length that is no number stands for 0: only an empty body matches it.
    ScriptedResponse garbled = ScriptedResponse::Ok("");
    garbled.headers = {{"Content-Length", "many"}};
    server.Respond(garbled);
    request = std::make_unique<vek::HttpDownloadRequest>(&session, 10240);
    EXPECT_TRUE(Fetch("/garbled-empty"));
    EXPECT_EQ(ReadFileBytes(target), "");

    // Sent chunked, the body reaches us whole despite the garbled length, and still fails.
    garbled.body = "<xml/>";
    garbled.chunked = true;
    server.Respond(garbled);
    request = std::make_unique<vek::HttpDownloadRequest>(&session, 10240);
    EXPECT_FALSE(Fetch("/garbled"));
    EXPECT_TRUE(ClosedForReaders(target));
    EXPECT_EQ(ReadFileBytes(target), "<xml/>");
}

TEST_F(Download, SlowBodyPastTheTimeLimitFailsWithTimeout) {
    ScriptedResponse slow = ScriptedResponse::Ok(Pattern(4000));
    slow.pieceSize = 500;
    slow.pieceDelayMs = 250;  // about two seconds for the whole body
    server.Respond(slow);
    request->SetTimeLimit(600);

    EXPECT_FALSE(Fetch("/slow"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_TIMEOUT));
    // What arrived so far is kept, in a closed file.
    ASSERT_TRUE(ClosedForReaders(target));
    const std::string partial = ReadFileBytes(target);
    EXPECT_FALSE(partial.empty());
    EXPECT_LT(partial.size(), slow.body.size());
    EXPECT_EQ(slow.body.compare(0, partial.size(), partial), 0);
}

TEST_F(Download, FailuresKeepThePlatformReason) {
    // No server on the port.
    LoopbackHttpServer gone;
    ASSERT_TRUE(gone.Start());
    const std::wstring url = gone.Url("/version.xml");
    gone.Stop();
    ASSERT_TRUE(WriteFileBytes(target, "stale"));
    ASSERT_TRUE(request->OpenTargetFile(target.c_str()));
    ASSERT_TRUE(request->Open(url.c_str(), vek::HttpRequest::VerbGet));
    EXPECT_FALSE(request->Send(nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_CANNOT_CONNECT));
    request->CloseTargetFile();
    EXPECT_EQ(ReadFileBytes(target), "");

    // A target in a directory that does not exist.
    request = std::make_unique<vek::HttpDownloadRequest>(&session, 10240);
    EXPECT_FALSE(request->OpenTargetFile((dir + L"\\no\\such\\file.bin").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    // Without a target file the first chunk cannot be written.
    server.Respond(ScriptedResponse::Ok("data"));
    ASSERT_TRUE(request->Open(server.Url("/nofile").c_str(), vek::HttpRequest::VerbGet));
    EXPECT_FALSE(request->Send(nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

namespace {

// Sees every chunk through the overridable hook, and may stop after a number of bytes.
class RecordingDownload : public vek::HttpDownloadRequest {
  public:
    using HttpDownloadRequest::HttpDownloadRequest;

    struct Call {
        DWORD length;
        DWORD received;
        LONG total;
    };
    std::vector<Call> calls;
    DWORD stopAfter = 0xFFFFFFFF;

  protected:
    bool OnBodyData(const void* data, DWORD length, DWORD received, LONG total) override {
        calls.push_back({length, received, total});
        if (received >= stopAfter) {
            SetLastError(ERROR_CANCELLED);
            return false;
        }
        return HttpDownloadRequest::OnBodyData(data, length, received, total);
    }
};

}  // namespace

TEST_F(Download, ChunkHookSeesCountsAndCanAbort) {
    ScriptedResponse response = ScriptedResponse::Ok(Pattern(50000));
    response.pieceSize = 9000;
    server.Respond(response);

    RecordingDownload whole(&session, 10240);
    ASSERT_TRUE(whole.OpenTargetFile(target.c_str()));
    ASSERT_TRUE(whole.Open(server.Url("/hook").c_str(), vek::HttpRequest::VerbGet));
    ASSERT_TRUE(whole.Send(nullptr, 0));
    ASSERT_FALSE(whole.calls.empty());
    DWORD sum = 0;
    for (const auto& call : whole.calls) {
        sum += call.length;
        EXPECT_EQ(call.received, sum);
        EXPECT_EQ(call.total, 50000);
    }
    EXPECT_EQ(sum, 50000u);
    EXPECT_EQ(ReadFileBytes(target), response.body);

    RecordingDownload stopped(&session, 10240);
    stopped.stopAfter = 1;
    ASSERT_TRUE(stopped.OpenTargetFile(target.c_str()));
    ASSERT_TRUE(stopped.Open(server.Url("/hook").c_str(), vek::HttpRequest::VerbGet));
    EXPECT_FALSE(stopped.Send(nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_EQ(stopped.calls.size(), 1u);
    EXPECT_TRUE(ClosedForReaders(target));
    EXPECT_EQ(ReadFileBytes(target), "");
}
