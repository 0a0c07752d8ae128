#include "support/LoopbackHttpServer.h"

#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>

namespace {

// The Winsock functions the server uses, looked up in ws2_32.dll once.
struct Winsock {
    decltype(&::WSAStartup) startup = nullptr;
    decltype(&::socket) socket = nullptr;
    decltype(&::bind) bind = nullptr;
    decltype(&::listen) listen = nullptr;
    decltype(&::getsockname) getsockname = nullptr;
    decltype(&::accept) accept = nullptr;
    decltype(&::select) select = nullptr;
    decltype(&::recv) recv = nullptr;
    decltype(&::send) send = nullptr;
    decltype(&::shutdown) shutdown = nullptr;
    decltype(&::setsockopt) setsockopt = nullptr;
    decltype(&::closesocket) closesocket = nullptr;
    decltype(&::ioctlsocket) ioctlsocket = nullptr;
    decltype(&::WSAGetLastError) lastError = nullptr;
    bool ready = false;
};

template <typename T>
void Resolve(HMODULE module, const char* name, T& function) {
    function = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const Winsock& Api() {
    static const Winsock api = [] {
        Winsock w;
        HMODULE module = LoadLibraryW(L"ws2_32.dll");
        if (module == nullptr) return w;
        Resolve(module, "WSAStartup", w.startup);
        Resolve(module, "socket", w.socket);
        Resolve(module, "bind", w.bind);
        Resolve(module, "listen", w.listen);
        Resolve(module, "getsockname", w.getsockname);
        Resolve(module, "accept", w.accept);
        Resolve(module, "select", w.select);
        Resolve(module, "recv", w.recv);
        Resolve(module, "send", w.send);
        Resolve(module, "shutdown", w.shutdown);
        Resolve(module, "setsockopt", w.setsockopt);
        Resolve(module, "closesocket", w.closesocket);
        Resolve(module, "ioctlsocket", w.ioctlsocket);
        Resolve(module, "WSAGetLastError", w.lastError);
        WSADATA data;
        w.ready = w.startup && w.socket && w.bind && w.listen && w.getsockname && w.accept &&
                  w.select && w.recv && w.send && w.shutdown && w.setsockopt && w.closesocket &&
                  w.ioctlsocket && w.lastError && w.startup(MAKEWORD(2, 2), &data) == 0;
        return w;
    }();
    return api;
}

// Waits up to timeoutMs for the socket to become readable.
bool Readable(SOCKET s, long timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return Api().select(0, &set, nullptr, nullptr, &wait) > 0;
}

// A client may stop reading and close (a body refused on its announced length): the send
// must notice that, or a stop, instead of blocking the server for good. Non-blocking sends,
// waiting in short slices; a peer that takes nothing for kStallMs is given up.
bool SendAll(SOCKET s, const std::string& bytes, const std::atomic<bool>& stopping) {
    constexpr DWORD kStallMs = 5000;
    u_long nonBlocking = 1;
    Api().ioctlsocket(s, FIONBIO, &nonBlocking);
    std::size_t sent = 0;
    DWORD lastProgress = GetTickCount();
    while (sent < bytes.size()) {
        if (stopping || GetTickCount() - lastProgress > kStallMs) return false;
        int n = Api().send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            lastProgress = GetTickCount();
            continue;
        }
        if (n == 0 || Api().lastError() != WSAEWOULDBLOCK) return false;
        fd_set writable, closed;
        FD_ZERO(&writable);
        FD_ZERO(&closed);
        FD_SET(s, &writable);
        FD_SET(s, &closed);
        timeval wait{0, 50 * 1000};
        if (Api().select(0, &closed, &writable, nullptr, &wait) > 0 && closed.fd_count != 0) {
            char peek;
            if (Api().recv(s, &peek, 1, MSG_PEEK) <= 0) return false;  // reset or closed
        }
    }
    return true;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trim(const std::string& text) {
    std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

void ParseHead(const std::string& head, ReceivedRequest& request) {
    std::size_t lineEnd = head.find("\r\n");
    std::string line = head.substr(0, lineEnd);
    std::size_t s1 = line.find(' ');
    std::size_t s2 = line.find(' ', s1 == std::string::npos ? s1 : s1 + 1);
    request.method = line.substr(0, s1);
    if (s1 != std::string::npos) request.target = line.substr(s1 + 1, s2 - s1 - 1);
    if (s2 != std::string::npos) request.version = line.substr(s2 + 1);

    std::size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
        std::size_t end = head.find("\r\n", pos);
        if (end == std::string::npos) end = head.size();
        std::string header = head.substr(pos, end - pos);
        std::size_t colon = header.find(':');
        if (colon != std::string::npos) {
            request.headers.emplace_back(Trim(header.substr(0, colon)),
                                         Trim(header.substr(colon + 1)));
        }
        pos = end + 2;
    }
}

bool HasHeaderNamed(const HttpHeaderList& headers, const std::string& name) {
    for (const auto& header : headers) {
        if (Lower(header.first) == Lower(name)) return true;
    }
    return false;
}

std::vector<std::string> Pieces(const ScriptedResponse& response) {
    std::vector<std::string> pieces;
    const std::string& body = response.body;
    std::size_t size = response.pieceSize == 0 ? body.size() : response.pieceSize;
    for (std::size_t pos = 0; pos < body.size(); pos += size)
        pieces.push_back(body.substr(pos, size));
    return pieces;
}

char HexDigit(std::size_t value) { return "0123456789abcdef"[value & 15]; }

std::string ChunkSizeLine(std::size_t size) {
    std::string hex;
    do {
        hex.insert(hex.begin(), HexDigit(size));
        size >>= 4;
    } while (size != 0);
    return hex + "\r\n";
}

}  // namespace

std::string ReceivedRequest::Header(const std::string& name) const {
    for (const auto& header : headers) {
        if (Lower(header.first) == Lower(name)) return header.second;
    }
    return std::string();
}

bool ReceivedRequest::HasHeader(const std::string& name) const {
    return HasHeaderNamed(headers, name);
}

ScriptedResponse ScriptedResponse::Ok(const std::string& body) {
    ScriptedResponse response;
    response.body = body;
    return response;
}

ScriptedResponse ScriptedResponse::ForFile(const ReceivedRequest& request, const std::string& bytes,
                                           const std::string& etag) {
    ScriptedResponse answer = Ok(bytes);
    answer.headers.push_back({"ETag", etag});
    const std::string range = request.Header("Range");
    const std::string ifRange = request.Header("If-Range");
    const std::string unit = "bytes=";
    if (range.size() <= unit.size() + 1 || range.compare(0, unit.size(), unit) != 0 ||
        range.back() != '-' || (!ifRange.empty() && ifRange != etag))
        return answer;
    char* end = nullptr;
    const unsigned long long first = std::strtoull(range.c_str() + unit.size(), &end, 10);
    if (end != range.c_str() + range.size() - 1 || first >= bytes.size()) return answer;
    answer.status = 206;
    answer.reason = "Partial Content";
    answer.body = bytes.substr(first);
    answer.headers.push_back({"Content-Range", "bytes " + std::to_string(first) + "-" +
                                                   std::to_string(bytes.size() - 1) + "/" +
                                                   std::to_string(bytes.size())});
    return answer;
}

ScriptedResponse ScriptedResponse::WithStatus(int status, const std::string& reason,
                                              const std::string& body) {
    ScriptedResponse response;
    response.status = status;
    response.reason = reason;
    response.body = body;
    return response;
}

LoopbackHttpServer::LoopbackHttpServer() : listener_(INVALID_SOCKET) {
    stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

LoopbackHttpServer::~LoopbackHttpServer() {
    Stop();
    if (stopEvent_ != nullptr) CloseHandle(stopEvent_);
}

bool LoopbackHttpServer::Start(unsigned short port) {
    if (thread_.joinable() || !Api().ready || stopEvent_ == nullptr) return false;

    SOCKET s = Api().socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    // 127.0.0.1 and the port in network byte order, written out to avoid more imports.
    address.sin_port = static_cast<u_short>(((port & 0xFF) << 8) | (port >> 8));
    address.sin_addr.S_un.S_un_b = {127, 0, 0, 1};
    int length = sizeof(address);
    if (Api().bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        Api().listen(s, SOMAXCONN) != 0 ||
        Api().getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        Api().closesocket(s);
        return false;
    }
    port_ = static_cast<unsigned short>(((address.sin_port & 0xFF) << 8) | (address.sin_port >> 8));
    listener_ = s;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        requests_.clear();  // a restarted server counts afresh
    }
    stopping_ = false;
    ResetEvent(stopEvent_);
    thread_ = std::thread([this] { Run(); });
    return true;
}

void LoopbackHttpServer::Stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    SetEvent(stopEvent_);
    thread_.join();
    for (std::thread& connection : connections_) connection.join();
    connections_.clear();
    Api().closesocket(static_cast<SOCKET>(listener_));
    listener_ = INVALID_SOCKET;
}

std::wstring LoopbackHttpServer::Url(const std::string& pathAndQuery) const {
    std::wstring url = L"http://127.0.0.1:" + std::to_wstring(port_);
    return url + std::wstring(pathAndQuery.begin(), pathAndQuery.end());
}

void LoopbackHttpServer::SetHandler(Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(handler);
}

void LoopbackHttpServer::Respond(const ScriptedResponse& response) {
    SetHandler([response](const ReceivedRequest&) { return response; });
}

std::vector<ReceivedRequest> LoopbackHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::size_t LoopbackHttpServer::RequestCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
}

bool LoopbackHttpServer::Pause(DWORD milliseconds) {
    return WaitForSingleObject(stopEvent_, milliseconds) == WAIT_TIMEOUT;
}

void LoopbackHttpServer::Run() {
    // The listener is closed early only by a serial Serve, on this thread.
    while (!stopping_ && listener_ != INVALID_SOCKET) {
        const SOCKET listener = static_cast<SOCKET>(listener_);
        if (!Readable(listener, 50)) continue;
        SOCKET client = Api().accept(listener, nullptr, nullptr);
        if (client == INVALID_SOCKET) continue;
        if (concurrent_) {
            connections_.emplace_back([this, client] { ServeAndClose(client); });
        } else {
            ServeAndClose(client);
        }
    }
}

void LoopbackHttpServer::ServeAndClose(std::uintptr_t clientValue) {
    const SOCKET client = static_cast<SOCKET>(clientValue);
    if (Serve(client)) {
        // No lingering: the close sends a reset instead of the end of the stream.
        linger abort{1, 0};
        Api().setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                         sizeof(abort));
    } else {
        Api().shutdown(client, SD_BOTH);
    }
    Api().closesocket(client);
}

bool LoopbackHttpServer::Serve(std::uintptr_t clientValue) {
    const SOCKET client = static_cast<SOCKET>(clientValue);
    ReceivedRequest request;
    std::string received;
    std::size_t headEnd = std::string::npos;
    bool closed = false;
    auto readMore = [&]() {
        while (!stopping_) {
            if (!Readable(client, 50)) continue;
            char buffer[4096];
            int n = Api().recv(client, buffer, sizeof(buffer), 0);
            if (n <= 0) {
                closed = true;
                return false;
            }
            received.append(buffer, static_cast<std::size_t>(n));
            return true;
        }
        return false;
    };

    // The head; a client that speaks something else (a TLS handshake, say) is recorded
    // as it is and dropped, since it would wait for an answer in its own protocol.
    while (headEnd == std::string::npos) {
        if (!received.empty() && !std::isupper(static_cast<unsigned char>(received[0]))) break;
        if (!readMore()) break;
        headEnd = received.find("\r\n\r\n");
    }
    if (headEnd == std::string::npos) {
        if (received.empty() && (closed || stopping_)) return false;
        request.raw = received;
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
        return false;
    }

    request.raw = received.substr(0, headEnd + 4);
    ParseHead(request.raw.substr(0, headEnd), request);
    std::size_t bodyLength = static_cast<std::size_t>(
        std::strtoull(request.Header("Content-Length").c_str(), nullptr, 10));
    while (received.size() - request.raw.size() < bodyLength && readMore()) {
    }
    request.body = received.substr(request.raw.size(), bodyLength);

    Handler handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
        handler = handler_;
    }
    ScriptedResponse response =
        handler ? handler(request) : ScriptedResponse::WithStatus(404, "Not Found", "");

    if (response.answerDelayMs != 0 && !Pause(response.answerDelayMs)) return false;
    if (response.closeWithoutAnswer) return false;
    if (response.refuseLaterConnections && !concurrent_) {
        Api().closesocket(static_cast<SOCKET>(listener_));
        listener_ = INVALID_SOCKET;
    }

    std::string head =
        "HTTP/1.1 " + std::to_string(response.status) + " " + response.reason + "\r\n";
    for (const auto& header : response.headers)
        head += header.first + ": " + header.second + "\r\n";
    if (response.chunked) {
        head += "Transfer-Encoding: chunked\r\n";
    } else if (response.autoContentLength && !HasHeaderNamed(response.headers, "Content-Length")) {
        head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    }
    // One exchange per connection keeps the client from reusing a socket we close.
    if (!HasHeaderNamed(response.headers, "Connection")) head += "Connection: close\r\n";
    head += "\r\n";
    if (!SendAll(client, head, stopping_)) return false;

    const bool reset = response.resetAfterBytes != ScriptedResponse::kNoReset;
    if (reset && response.resetAfterBytes < response.body.size())
        response.body.resize(response.resetAfterBytes);
    bool first = true;
    for (const std::string& piece : Pieces(response)) {
        if (!first && response.pieceDelayMs != 0 && !Pause(response.pieceDelayMs)) return false;
        first = false;
        std::string bytes = response.chunked ? ChunkSizeLine(piece.size()) + piece + "\r\n" : piece;
        if (!SendAll(client, bytes, stopping_)) return false;
    }
    if (reset) return true;
    if (response.chunked) SendAll(client, "0\r\n\r\n", stopping_);
    return false;
}
