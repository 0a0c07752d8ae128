#include "http/HttpSession.h"

namespace {
const wchar_t kUserAgent[] = L"WinHTTP HttpSession/1.0";
}

HttpSession::~HttpSession() { Close(); }

bool HttpSession::Open() {
    if (!WinHttpCheckPlatform()) return false;

    // No proxy on purpose: the update server is always reached directly, whatever the
    // system's proxy settings say. No flags, so every call on this session blocks.
    session_.Reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session_) return false;

    if (WinHttpSetStatusCallback(session_.Get(), &HttpSession::StatusCallback,
                                 WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS,
                                 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
        return false;
    }

    // The callback finds this object through the handle's context value.
    DWORD_PTR self = reinterpret_cast<DWORD_PTR>(this);
    return WinHttpSetOption(session_.Get(), WINHTTP_OPTION_CONTEXT_VALUE, &self, sizeof(self)) !=
           FALSE;
}

bool HttpSession::SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs) {
    return WinHttpSetTimeouts(session_.Get(), resolveMs, connectMs, sendMs, receiveMs) != FALSE;
}

void HttpSession::Close() {
    if (!session_) return;
    // Unregister first so that no notification can reach an object being destroyed.
    WinHttpSetStatusCallback(session_.Get(), nullptr, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS, 0);
    session_.Close();
}

void CALLBACK HttpSession::StatusCallback(HINTERNET /*handle*/, DWORD_PTR context, DWORD status,
                                          LPVOID info, DWORD infoLength) {
    if (context == 0) return;
    reinterpret_cast<HttpSession*>(context)->OnAsycCallback(status, info, infoLength);
}

void HttpSession::OnAsycCallback(DWORD /*status*/, LPVOID /*info*/, DWORD /*infoLength*/) {
    // The session is synchronous: every outcome is already known from the call that
    // triggered the notification, so there is nothing to do here.
}
