#include "http/HttpDownloadRequest.h"

#include <cwchar>
#include <memory>

namespace vek {

namespace {
const DWORD kInitialChunkSize = 8192;
// What is read of a response whose status cannot be read, so the connection can end cleanly;
// the rest is left unread rather than held in memory.
const DWORD kMaxDrainBytes = 64 * 1024;
}  // namespace

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
    // No file: nothing may be written (an invalid handle names this process to WriteFile).
    if (!targetFile_) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
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
        // Drain a little so the connection ends cleanly, but report why we failed.
        const DWORD error = GetLastError();
        char discard[4096];
        for (DWORD drained = 0; drained < kMaxDrainBytes;) {
            DWORD ready = 0, read = 0;
            if (!WinHttpQueryDataAvailable(RequestHandle(), &ready) || ready == 0) break;
            if (!WinHttpReadData(RequestHandle(), discard,
                                 ready < sizeof(discard) ? ready : sizeof(discard), &read) ||
                read == 0)
                break;
            drained += read;
        }
        SetLastError(error);
        return false;
    }
    // Any status continues: an error page of the announced length is still a complete body.

    // Without a length there is no way to tell a complete body from a cut one.
    std::wstring lengthText;
    if (!QueryHeader(L"Content-Length", lengthText)) return false;

    const DWORD start = GetTickCount();
    const LONG total = static_cast<LONG>(std::wcstol(lengthText.c_str(), nullptr, 10));
    if (!AcceptLength(total)) return FailAndClose();
    ULONGLONG received = 0;  // 64 bits: a body past 4 GiB must not wrap to a match
    DWORD capacity = kInitialChunkSize;
    std::unique_ptr<char[]> chunk = std::make_unique<char[]>(capacity);

    for (;;) {
        DWORD ready = 0;
        const BOOL available = WinHttpQueryDataAvailable(RequestHandle(), &ready);
        if (!available || ready == 0) {
            // The call's own reason when it failed; a body that simply ended short of (or
            // beyond) its length gets a definite one instead of whatever came before.
            DWORD error = available ? ERROR_WINHTTP_CONNECTION_ERROR : GetLastError();
            if (error == ERROR_SUCCESS) error = ERROR_WINHTTP_CONNECTION_ERROR;
            CloseTargetFile();
            if (total >= 0 && received == static_cast<ULONGLONG>(total)) return true;
            SetLastError(error);
            return false;
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
        const DWORD receivedLow = received > MAXDWORD ? MAXDWORD : static_cast<DWORD>(received);
        if (!OnBodyData(chunk.get(), read, receivedLow, total)) return FailAndClose();
    }
}

}  // namespace vek
