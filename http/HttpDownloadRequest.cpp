#include "http/HttpDownloadRequest.h"

#include <cwchar>
#include <memory>

namespace vek {

namespace {
const DWORD kInitialChunkSize = 8192;
}

HttpDownloadRequest::HttpDownloadRequest(HttpSession* session, unsigned pathCapacity)
    : HttpRequest(session, pathCapacity) {}

HttpDownloadRequest::~HttpDownloadRequest() { CloseTargetFile(); }

bool HttpDownloadRequest::OpenTargetFile(const wchar_t* path) {
    // No delete sharing: a caller that removes a failed download closes the file first.
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    targetFile_.Reset(file);
    return true;
}

bool HttpDownloadRequest::OnBodyData(const void* data, DWORD length, DWORD /*received*/,
                                     LONG /*total*/) {
    DWORD written = 0;
    return WriteFile(targetFile_.Get(), data, length, &written, nullptr) != FALSE;
}

bool HttpDownloadRequest::FailAndClose() {
    const DWORD error = GetLastError();
    CloseTargetFile();
    SetLastError(error);
    return false;
}

bool HttpDownloadRequest::ReceiveBody() {
    DWORD status = 0;
    if (!QueryStatusCode(status)) {
        // Drain what there is so the connection ends cleanly, but report why we failed.
        const DWORD error = GetLastError();
        HttpRequest::ReceiveBody();
        SetLastError(error);
        return false;
    }
    // Any status continues: an error page of the announced length is still a complete body.

    // Without a length there is no way to tell a complete body from a cut one.
    std::wstring lengthText;
    if (!QueryHeader(L"Content-Length", lengthText)) return false;

    const DWORD start = GetTickCount();
    const LONG total = static_cast<LONG>(std::wcstol(lengthText.c_str(), nullptr, 10));
    DWORD received = 0;
    DWORD capacity = kInitialChunkSize;
    std::unique_ptr<char[]> chunk = std::make_unique<char[]>(capacity);

    for (;;) {
        DWORD ready = 0;
        if (!WinHttpQueryDataAvailable(RequestHandle(), &ready) || ready == 0) {
            CloseTargetFile();
            return static_cast<LONGLONG>(received) == total;
        }
        // The limit bounds the whole body, not the gaps between chunks; a stalled connection
        // is ended by the session's receive time-out instead. Unsigned difference: a wrap of
        // the tick counter does no harm.
        if (timeLimit_ != kNoTimeLimit && GetTickCount() - start >= timeLimit_) {
            CloseTargetFile();
            SetLastError(ERROR_WINHTTP_TIMEOUT);
            return false;
        }
        if (ready > capacity) {
            capacity = ready;
            chunk = std::make_unique<char[]>(capacity);
        }
        DWORD read = 0;
        if (!WinHttpReadData(RequestHandle(), chunk.get(), ready, &read)) return FailAndClose();
        received += read;
        if (!OnBodyData(chunk.get(), read, received, total)) return FailAndClose();
    }
}

}  // namespace vek
