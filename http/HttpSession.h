// One synchronous WinHTTP session. Every download builds its own session, binds one request
// to it and destroys both afterwards.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "support/ScopedHandle.h"

struct WinHttpHandleTraits {
    using Handle = HINTERNET;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::WinHttpCloseHandle(h); }
};

using ScopedInternet = ScopedHandle<WinHttpHandleTraits>;

class HttpSession {
  public:
    HttpSession() = default;
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // False on the first failing WinHTTP call, whose last-error code is left in place. A handle
    // obtained before the failure stays stored until Close.
    bool Open();
    // Milliseconds, in WinHTTP's order: name resolution, connect, send, receive.
    bool SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs);
    HINTERNET GetHandle() const { return session_.Get(); }
    void Close();

    static void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status,
                                        LPVOID info, DWORD infoLength);
    void OnAsycCallback(DWORD status, LPVOID info, DWORD infoLength);

  private:
    ScopedInternet session_;
};
