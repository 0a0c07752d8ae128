#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

#include <memory>
#include <string>

#include "http/HttpRequest.h"
#include "http/HttpSession.h"
#include "support/LoopbackHttpServer.h"

namespace {

const std::string kGzipBody(
    "\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\xb3\x29\x4b\x2d\x2a\xce\xcc\xcf\xb3\x33\xd4\x33"
    "\xb0\xd1\x87\x71\x00\x40\xe2\x20\xab\x16\x00\x00\x00",
    35);

class Request : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start());
        ASSERT_TRUE(session.Open());
        session.SetTimeouts(10000, 10000, 10000, 10000);
    }

    // One exchange on the shared session; the request is kept for inspection.
    bool Exchange(const std::wstring& url, int verb, const void* body = nullptr, DWORD length = 0) {
        request = std::make_unique<vek::HttpRequest>(&session, 10240);
        return request->Open(url.c_str(), verb) && request->Send(body, length);
    }

    ReceivedRequest Last() const {
        std::vector<ReceivedRequest> all = server.Requests();
        return all.empty() ? ReceivedRequest() : all.back();
    }

    LoopbackHttpServer server;
    HttpSession session;
    std::unique_ptr<vek::HttpRequest> request;
};

}  // namespace

TEST_F(Request, VerbCodesChooseTheMethod) {
    server.Respond(ScriptedResponse::Ok("done"));
    const struct {
        int code;
        const char* method;
    } cases[] = {{vek::HttpRequest::VerbPost, "POST"},
                 {vek::HttpRequest::VerbPut, "PUT"},
                 {vek::HttpRequest::VerbGet, "GET"},
                 {3, "POST"},
                 {-1, "POST"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        ASSERT_TRUE(Exchange(server.Url("/verb"), c.code));
        EXPECT_EQ(Last().method, c.method);
        EXPECT_EQ(request->Body(), "done");
    }
}

TEST_F(Request, PathQueryPortAndHostArriveUnchanged) {
    server.Respond(ScriptedResponse::Ok(""));
    const std::string host = "127.0.0.1:" + std::to_string(server.Port());
    for (const char* target :
         {"/version.xml?tick=-123", "/dir/sub/file.bin?tick=4294967295", "/a?x=1&y=%41b", "/"}) {
        SCOPED_TRACE(target);
        ASSERT_TRUE(Exchange(server.Url(target), vek::HttpRequest::VerbGet));
        EXPECT_EQ(Last().target, target);
        EXPECT_EQ(Last().Header("Host"), host);
    }
}

TEST_F(Request, BodyIsSentOnlyWithAPointerAndALength) {
    server.Respond(ScriptedResponse::Ok(""));
    const char payload[] = "name=value";

    ASSERT_TRUE(Exchange(server.Url("/nobody"), vek::HttpRequest::VerbPost, nullptr, 0));
    EXPECT_EQ(Last().body, "");
    EXPECT_EQ(Last().Header("Content-Length"), "0");

    ASSERT_TRUE(Exchange(server.Url("/zero"), vek::HttpRequest::VerbPost, payload, 0));
    EXPECT_EQ(Last().body, "");
    EXPECT_EQ(Last().Header("Content-Length"), "0");

    ASSERT_TRUE(Exchange(server.Url("/put"), vek::HttpRequest::VerbPut, payload, 10));
    EXPECT_EQ(Last().method, "PUT");
    EXPECT_EQ(Last().Header("Content-Length"), "10");
    EXPECT_EQ(Last().body, "name=value");

    // Nothing but what WinHTTP adds by itself goes out.
    for (const auto& header : Last().headers) {
        EXPECT_TRUE(header.first == "Host" || header.first == "User-Agent" ||
                    header.first == "Content-Length" || header.first == "Connection" ||
                    header.first == "Accept" || header.first == "Accept-Encoding")
            << header.first;
    }
}

TEST_F(Request, ResponseStatusHeadersAndBodyAreKept) {
    ScriptedResponse response = ScriptedResponse::WithStatus(500, "Server Error", "broken");
    response.headers = {{"X-Orvex-Tag", "alpha beta"}};
    server.Respond(response);

    // An error status is still a complete exchange.
    ASSERT_TRUE(Exchange(server.Url("/status"), vek::HttpRequest::VerbGet));
    DWORD code = 0;
    ASSERT_TRUE(request->QueryStatusCode(code));
    EXPECT_EQ(code, 500u);
    EXPECT_EQ(request->Body(), "broken");
    EXPECT_EQ(request->RawHeaders().rfind("HTTP/1.1 500 Server Error\r\n", 0), 0u)
        << request->RawHeaders();
    EXPECT_NE(request->RawHeaders().find("X-Orvex-Tag: alpha beta\r\n"), std::string::npos);

    // Header values are appended; a missing header changes nothing.
    std::wstring value = L"tag=";
    ASSERT_TRUE(request->QueryHeader(L"x-orvex-tag", value));
    EXPECT_EQ(value, L"tag=alpha beta");
    value = L"kept";
    EXPECT_FALSE(request->QueryHeader(L"X-Missing", value));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_HEADER_NOT_FOUND));
    EXPECT_EQ(value, L"kept");
}

TEST_F(Request, BodiesAreReadAsTheyArrive) {
    ASSERT_TRUE(Exchange(server.Url("/missing"), vek::HttpRequest::VerbGet));  // empty 404
    EXPECT_EQ(request->Body(), "");

    ScriptedResponse chunked = ScriptedResponse::Ok(std::string(20000, 'c') + "end");
    chunked.chunked = true;
    chunked.pieceSize = 7000;
    server.Respond(chunked);
    ASSERT_TRUE(Exchange(server.Url("/chunked"), vek::HttpRequest::VerbGet));
    EXPECT_EQ(request->Body(), chunked.body);

    // No content decoding: compressed bytes are kept exactly as sent.
    ScriptedResponse gzip = ScriptedResponse::Ok(kGzipBody);
    gzip.headers = {{"Content-Encoding", "gzip"}};
    server.Respond(gzip);
    ASSERT_TRUE(Exchange(server.Url("/gzip"), vek::HttpRequest::VerbGet));
    EXPECT_EQ(request->Body(), kGzipBody);
    EXPECT_EQ(Last().Header("Accept-Encoding"), "");
}

TEST_F(Request, OpenRejectsUrlsThatDoNotFit) {
    vek::HttpRequest bad(&session, 10240);
    EXPECT_FALSE(bad.Open(L"not a url", vek::HttpRequest::VerbGet));

    vek::HttpRequest longHost(&session, 10240);
    const std::wstring host(300, L'h');
    EXPECT_FALSE(longHost.Open((L"http://" + host + L"/x").c_str(), vek::HttpRequest::VerbGet));

    // The path buffer holds the path, query included, and its terminator.
    const std::wstring url = server.Url("/0123456789?tick=5");  // 18 characters of path
    vek::HttpRequest tooSmall(&session, 18);
    EXPECT_FALSE(tooSmall.Open(url.c_str(), vek::HttpRequest::VerbGet));
    vek::HttpRequest justRight(&session, 19);
    ASSERT_TRUE(justRight.Open(url.c_str(), vek::HttpRequest::VerbGet));
    server.Respond(ScriptedResponse::Ok(""));
    ASSERT_TRUE(justRight.Send(nullptr, 0));
    EXPECT_EQ(Last().target, "/0123456789?tick=5");
}

TEST_F(Request, ConnectRefusedFailsSendWithAWinHttpError) {
    LoopbackHttpServer gone;
    ASSERT_TRUE(gone.Start());
    const std::wstring url = gone.Url("/nothing");
    gone.Stop();  // nothing listens on that port any more

    vek::HttpRequest refused(&session, 10240);
    ASSERT_TRUE(refused.Open(url.c_str(), vek::HttpRequest::VerbGet));
    EXPECT_FALSE(refused.Send(nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WINHTTP_CANNOT_CONNECT));
}

TEST_F(Request, HttpsUrlStartsATlsHandshake) {
    std::wstring url = server.Url("/secure");
    url.replace(0, 4, L"https");

    ASSERT_FALSE(Exchange(url, vek::HttpRequest::VerbGet));
    const DWORD error = GetLastError();
    EXPECT_GE(error, 12000u);
    EXPECT_LT(error, 12200u);
    // The plain server saw a TLS handshake record instead of a request line.
    ASSERT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(Last().method, "");
    ASSERT_FALSE(Last().raw.empty());
    EXPECT_EQ(static_cast<unsigned char>(Last().raw[0]), 0x16);
}
