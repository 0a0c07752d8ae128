#include "http/MemoryDownload.h"

#include <winhttp.h>

#include <new>

#include "http/HttpDownloadRequest.h"
#include "http/HttpSession.h"
#include "support/LastError.h"

namespace {

constexpr unsigned kPathCapacity = 10240;

class MemoryDownloadRequest : public vek::HttpDownloadRequest {
  public:
    MemoryDownloadRequest(HttpSession* session, size_t maxBytes, std::string& body)
        : HttpDownloadRequest(session, kPathCapacity), maxBytes_(maxBytes), body_(body) {}

    // A refused body is left unread: the connection must end with the request rather than
    // wait in a pool for a body nobody reads.
    void DisableKeepAlive() {
        DWORD feature = WINHTTP_DISABLE_KEEP_ALIVE;
        WinHttpSetOption(RequestHandle(), WINHTTP_OPTION_DISABLE_FEATURE, &feature,
                         sizeof(feature));
    }

  protected:
    bool AcceptLength(LONGLONG total) override {
        if (total < 0) {
            SetLastError(ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
            return false;
        }
        if (static_cast<ULONGLONG>(total) > maxBytes_) {
            SetLastError(ERROR_FILE_TOO_LARGE);
            return false;
        }
        return Store(nullptr, 0, static_cast<size_t>(total));
    }

    bool OnBodyData(const void* data, DWORD length, DWORD, LONG) override {
        // A server may send more than it announced: the limit holds all the same.
        if (length > maxBytes_ - body_.size()) {
            SetLastError(ERROR_FILE_TOO_LARGE);
            return false;
        }
        return Store(data, length, 0);
    }

  private:
    bool Store(const void* data, size_t length, size_t reserve) {
        try {
            if (reserve > 0) body_.reserve(reserve);
            if (length > 0) body_.append(static_cast<const char*>(data), length);
            return true;
        } catch (const std::bad_alloc&) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
    }

    size_t maxBytes_;
    std::string& body_;
};

}  // namespace

DownloadResult DownloadToMemory(const std::wstring& url, const DownloadSettings& settings,
                                size_t maxBytes, std::string& body, DWORD& error) {
    body.clear();
    HttpSession session;
    if (!OpenDownloadSession(session, settings, error)) return DownloadResult::SessionFailed;
    MemoryDownloadRequest request(&session, maxBytes, body);
    request.SetTimeLimit(settings.bodyTimeLimitMs);
    if (request.Open(url.c_str(), vek::HttpRequest::VerbGet)) {
        request.DisableKeepAlive();
        if (request.Send(nullptr, 0)) return DownloadResult::Complete;
    }
    error = LastErrorOr(ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
    body.clear();
    return DownloadResult::Failed;
}
