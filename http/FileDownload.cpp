#include "http/FileDownload.h"

#include <winhttp.h>

#include "http/HttpDownloadRequest.h"
#include "http/HttpSession.h"
#include "support/LastError.h"

namespace {
constexpr unsigned kPathCapacity = 10240;

}  // namespace

bool OpenDownloadSession(HttpSession& session, const DownloadSettings& settings, DWORD& error) {
    SetLastError(ERROR_SUCCESS);
    error = ERROR_SUCCESS;
    if (!session.Open()) {
        error = LastErrorOr(ERROR_WINHTTP_INTERNAL_ERROR);
        return false;
    }
    session.SetTimeouts(settings.resolveMs, settings.connectMs, settings.sendMs,
                        settings.receiveMs);
    // The wait for the response headers has a time-out of its own, 90 s unless set, and some
    // WinHTTP versions apply only that one there: a server that accepts and never answers is
    // bounded by the receive time-out like one that stops mid-body.
    DWORD headerWaitMs = static_cast<DWORD>(settings.receiveMs);
    WinHttpSetOption(session.GetHandle(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headerWaitMs,
                     sizeof(headerWaitMs));
    return true;
}

DownloadResult DownloadToFile(const std::wstring& url, const std::wstring& path,
                              const DownloadSettings& settings, DWORD& error) {
    HttpSession session;
    if (!OpenDownloadSession(session, settings, error)) return DownloadResult::SessionFailed;
    vek::HttpDownloadRequest request(&session, kPathCapacity);
    request.SetTimeLimit(settings.bodyTimeLimitMs);
    if (request.OpenTargetFile(path.c_str()) &&
        request.Open(url.c_str(), vek::HttpRequest::VerbGet) && request.Send(nullptr, 0)) {
        return DownloadResult::Complete;
    }
    error = LastErrorOr(ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
    request.CloseTargetFile();  // opened without delete sharing
    DeleteFileW(path.c_str());
    return DownloadResult::Failed;
}
