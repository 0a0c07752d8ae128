#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

#include <string>

#include "http/HttpDownloadRequest.h"
#include "http/HttpRequest.h"
#include "http/HttpSession.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestPaths.h"

namespace {

DWORD QueryDword(HINTERNET handle, DWORD option) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (!WinHttpQueryOption(handle, option, &value, &size)) return 0xFFFFFFFF;
    return value;
}

// Sets the machine-wide WinHTTP default proxy (what "netsh winhttp set proxy" changes).
bool SetSystemProxy(DWORD accessType, const wchar_t* proxy) {
    WINHTTP_PROXY_INFO info = {};
    info.dwAccessType = accessType;
    info.lpszProxy = const_cast<wchar_t*>(proxy);
    return WinHttpSetDefaultProxyConfiguration(&info) != FALSE;
}

}  // namespace

TEST(Session, OpenStoresHandleAndRegistersItselfAsContext) {
    HttpSession session;
    EXPECT_EQ(session.GetHandle(), nullptr);
    ASSERT_TRUE(session.Open());
    ASSERT_NE(session.GetHandle(), nullptr);

    // The status callback finds the session through this value; it must be pointer-sized.
    DWORD_PTR context = 0;
    DWORD size = sizeof(context);
    ASSERT_TRUE(
        WinHttpQueryOption(session.GetHandle(), WINHTTP_OPTION_CONTEXT_VALUE, &context, &size));
    EXPECT_EQ(size, sizeof(void*));
    EXPECT_EQ(context, reinterpret_cast<DWORD_PTR>(&session));
}

TEST(Session, CloseIsHarmlessWhenRepeatedOrNeverOpened) {
    HttpSession never;
    never.Close();
    never.Close();
    EXPECT_EQ(never.GetHandle(), nullptr);

    HttpSession session;
    ASSERT_TRUE(session.Open());
    session.Close();
    EXPECT_EQ(session.GetHandle(), nullptr);
    session.Close();
    EXPECT_EQ(session.GetHandle(), nullptr);

    // A closed session can be opened again; the destructor then closes it once more.
    EXPECT_TRUE(session.Open());
}

TEST(Session, SetTimeoutsPassesTheFourValuesInOrder) {
    HttpSession closed;
    EXPECT_FALSE(closed.SetTimeouts(1000, 1000, 1000, 1000));

    HttpSession session;
    ASSERT_TRUE(session.Open());
    ASSERT_TRUE(session.SetTimeouts(1111, 2222, 3333, 4444));
    EXPECT_EQ(QueryDword(session.GetHandle(), WINHTTP_OPTION_RESOLVE_TIMEOUT), 1111u);
    EXPECT_EQ(QueryDword(session.GetHandle(), WINHTTP_OPTION_CONNECT_TIMEOUT), 2222u);
    EXPECT_EQ(QueryDword(session.GetHandle(), WINHTTP_OPTION_SEND_TIMEOUT), 3333u);
    EXPECT_EQ(QueryDword(session.GetHandle(), WINHTTP_OPTION_RECEIVE_TIMEOUT), 4444u);

    // Values below -1 are refused and the earlier ones stay in force.
    EXPECT_FALSE(session.SetTimeouts(10000, -2, 10000, 10000));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(QueryDword(session.GetHandle(), WINHTTP_OPTION_RECEIVE_TIMEOUT), 4444u);
}

TEST(Session, ReceiveTimeoutEndsAStalledBody) {
    LoopbackHttpServer server;
    ASSERT_TRUE(server.Start());
    ScriptedResponse stalled = ScriptedResponse::Ok(std::string(200, 's'));
    stalled.pieceSize = 100;
    stalled.pieceDelayMs = 20000;  // the second half never comes in time
    server.Respond(stalled);

    HttpSession session;
    ASSERT_TRUE(session.Open());
    ASSERT_TRUE(session.SetTimeouts(10000, 10000, 10000, 300));
    const std::wstring dir = MakeScratchDir(L"session");
    ASSERT_FALSE(dir.empty());
    vek::HttpDownloadRequest request(&session, 10240);
    ASSERT_TRUE(request.OpenTargetFile((dir + L"\\stalled.bin").c_str()));
    ASSERT_TRUE(request.Open(server.Url("/stalled").c_str(), vek::HttpRequest::VerbGet));
    EXPECT_FALSE(request.Send(nullptr, 0));
    // Windows reports ERROR_WINHTTP_TIMEOUT; wine's WinHTTP passes the socket's WSAETIMEDOUT
    // through for a body read that times out.
    const DWORD error = GetLastError();
    EXPECT_TRUE(error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT) << error;
    request.CloseTargetFile();
    RemoveTree(dir);
}

TEST(Session, RequestsGoDirectlyWithTheFixedUserAgent) {
    LoopbackHttpServer server;
    ASSERT_TRUE(server.Start());
    server.Respond(ScriptedResponse::Ok("ok"));

    // A proxy configured for the system must not be used: the request has to arrive at the
    // server itself, in origin form.
    ASSERT_TRUE(SetSystemProxy(WINHTTP_ACCESS_TYPE_NAMED_PROXY, L"127.0.0.1:9"));
    HttpSession session;
    const bool opened = session.Open();
    SetSystemProxy(WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr);
    ASSERT_TRUE(opened);
    vek::HttpRequest request(&session, 10240);
    ASSERT_TRUE(request.Open(server.Url("/agent").c_str(), vek::HttpRequest::VerbGet));
    const bool sent = request.Send(nullptr, 0);
    ASSERT_TRUE(sent);

    ASSERT_EQ(server.RequestCount(), 1u);
    const ReceivedRequest received = server.Requests()[0];
    EXPECT_EQ(received.target, "/agent");
    EXPECT_EQ(received.Header("User-Agent"), "WinHTTP HttpSession/1.0");
    EXPECT_EQ(request.Body(), "ok");
}
