// A scripted HTTP/1.1 server on 127.0.0.1 for tests. It serves one connection at a time
// (or, opted in, each connection on its own thread), answers each request with whatever the
// test's handler returns, and records every request.
// Winsock is resolved at run time, so test programs need no extra import library.
#pragma once

#include <winsock2.h>  // before windows.h, which would bring the old socket header
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using HttpHeaderList = std::vector<std::pair<std::string, std::string>>;

struct ReceivedRequest {
    std::string method;   // empty when the bytes did not start like an HTTP request
    std::string target;   // path with query, exactly as sent
    std::string version;  // "HTTP/1.1"
    HttpHeaderList headers;
    std::string body;
    std::string raw;  // the request head as received (or every byte, when it was not HTTP)

    // Value of the first header with this name (any case), or "" when absent.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
};

struct ScriptedResponse {
    int status = 200;
    std::string reason = "OK";
    HttpHeaderList headers;
    std::string body;

    // Adds "Content-Length: <body size>" unless the headers name one or the body is chunked.
    bool autoContentLength = true;
    // Sends the body with "Transfer-Encoding: chunked", one HTTP chunk per piece.
    bool chunked = false;
    // Splits the body into pieces of this many bytes (0: one piece), waiting pieceDelayMs
    // before every piece after the first.
    std::size_t pieceSize = 0;
    DWORD pieceDelayMs = 0;
    // Waits this long after reading the request before answering.
    DWORD answerDelayMs = 0;
    // Closes the connection after reading the request, without answering.
    bool closeWithoutAnswer = false;
    // Resets the connection (an abortive close) once this many body bytes are sent, the
    // announced length unchanged; 0 resets right after the head.
    static constexpr std::size_t kNoReset = static_cast<std::size_t>(-1);
    std::size_t resetAfterBytes = kNoReset;
    // Serial mode only: stops listening before answering, so every later connection is
    // refused as by a port nobody listens on.
    bool refuseLaterConnections = false;

    static ScriptedResponse Ok(const std::string& body);
    // As a static file server answers for a file of these bytes named etag: the rest of it
    // (206 with its Content-Range) for "Range: bytes=N-" with N inside the file, unless an
    // "If-Range" names another tag; otherwise the whole file (200). Both carry the ETag.
    static ScriptedResponse ForFile(const ReceivedRequest& request, const std::string& bytes,
                                    const std::string& etag);
    static ScriptedResponse WithStatus(int status, const std::string& reason,
                                       const std::string& body);
};

class LoopbackHttpServer {
  public:
    using Handler = std::function<ScriptedResponse(const ReceivedRequest&)>;

    LoopbackHttpServer();
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    // Listens on 127.0.0.1:port (0 picks a free port). False when the port cannot be bound.
    bool Start(unsigned short port = 0);
    // Stops listening and waits for every connection being served (so for its handler).
    void Stop();

    // Before Start: true serves each accepted connection on a thread of its own, so several
    // exchanges can be in flight at once and handlers run concurrently. Default false.
    void SetConcurrent(bool concurrent) { concurrent_ = concurrent; }

    unsigned short Port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by pathAndQuery.
    std::wstring Url(const std::string& pathAndQuery) const;

    // Until a handler is set every request gets an empty 404.
    void SetHandler(Handler handler);
    // Shortcut for a handler that gives every request the same response.
    void Respond(const ScriptedResponse& response);

    std::vector<ReceivedRequest> Requests() const;
    std::size_t RequestCount() const;

  private:
    void Run();
    bool Serve(std::uintptr_t client);  // true when the connection is to be reset
    void ServeAndClose(std::uintptr_t client);
    bool Pause(DWORD milliseconds);  // false when the server is stopping

    mutable std::mutex mutex_;
    Handler handler_;
    std::vector<ReceivedRequest> requests_;
    std::uintptr_t listener_;
    unsigned short port_ = 0;
    std::atomic<bool> stopping_{false};
    HANDLE stopEvent_ = nullptr;
    std::thread thread_;
    bool concurrent_ = false;
    std::vector<std::thread> connections_;  // concurrent mode; only the accept thread adds
};
