#include "http/HttpDownloadRequest.h"

#include <climits>
#include <cwchar>
#include <memory>
#include <new>

#include "support/LastError.h"

namespace vek {

namespace {
// What is read of a response whose status cannot be read, so the connection can end cleanly;
// the rest is left unread rather than held in memory.
const DWORD kMaxDrainBytes = 64 * 1024;
// While a body streams: what one read asks for, and what WinHTTP must hold when asked for the
// read to count as streaming (a full network buffer).
const DWORD kStreamChunkBytes = 64 * 1024;
const DWORD kStreamingReadyBytes = 8 * 1024;
// A read slower than this means the body no longer streams.
const DWORD kSlowReadMs = 50;
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
    // 64 bits: a package may be larger than 2 GiB, and a body past 4 GiB must not wrap to a
    // match. Text that is no number stands for 0.
    const LONGLONG total = std::wcstoll(lengthText.c_str(), nullptr, 10);
    if (!AcceptLength(total)) return FailAndClose();
    const LONG hookTotal = total > LONG_MAX ? LONG_MAX : static_cast<LONG>(total);

    // One buffer for the whole body, written whenever it is full: one write per 256 KiB
    // instead of one per network read.
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kBodyBufferBytes]);
    if (!buffer) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FailAndClose();
    }
    ULONGLONG received = 0;
    DWORD filled = 0;
    auto flush = [&]() {
        if (filled == 0) return true;
        const DWORD receivedLow = received > MAXDWORD ? MAXDWORD : static_cast<DWORD>(received);
        const bool written = OnBodyData(buffer.get(), filled, receivedLow, hookTotal);
        filled = 0;
        return written;
    };
    // What arrived before a failure is kept in the file (a later attempt may resume from
    // it); the failure's own reason is the one reported.
    auto failKeepingData = [&](DWORD error) {
        flush();
        CloseTargetFile();
        SetLastError(error);
        return false;
    };

    // Each read asks for no more than WinHTTP already holds: a read of more blocks until it
    // is filled, which would hold a slow body past the time limit. While the body streams
    // (WinHTTP holds a full buffer each time it is asked), reads of a fixed chunk skip that
    // question, which costs as much as the read itself; the first slow read returns to it.
    bool streaming = false;
    for (;;) {
        const bool whole = total >= 0 && received == static_cast<ULONGLONG>(total);
        const DWORD room = kBodyBufferBytes - filled;
        DWORD ask = 0;
        if (streaming && !whole) {
            const ULONGLONG left = static_cast<ULONGLONG>(total) - received;
            ask = room < kStreamChunkBytes ? room : kStreamChunkBytes;
            if (left < ask) ask = static_cast<DWORD>(left);
        } else {
            DWORD ready = 0;
            if (!WinHttpQueryDataAvailable(RequestHandle(), &ready) && !whole)
                return failKeepingData(LastErrorOr(ERROR_WINHTTP_CONNECTION_ERROR));
            ask = ready < room ? ready : room;
            streaming = ready >= kStreamingReadyBytes && total >= 0;
        }
        DWORD read = 0;
        if (ask != 0) {
            // The limit bounds the whole body, not the gaps between reads; a stalled
            // connection is ended by the session's receive time-out instead. Unsigned
            // difference: a wrap of the tick counter does no harm.
            const DWORD before = GetTickCount();
            if (timeLimit_ != kNoTimeLimit && before - start >= timeLimit_)
                return failKeepingData(ERROR_WINHTTP_TIMEOUT);
            if (!WinHttpReadData(RequestHandle(), buffer.get() + filled, ask, &read))
                return failKeepingData(LastErrorOr(ERROR_WINHTTP_CONNECTION_ERROR));
            if (GetTickCount() - before > kSlowReadMs) streaming = false;
            filled += read;
            received += read;
        }
        if (read == 0) {
            // The end of the body: it must be exactly the announced length; one that ended
            // short of (or beyond) it gets a definite reason, never whatever came before.
            if (!flush()) return FailAndClose();
            CloseTargetFile();
            if (total >= 0 && received == static_cast<ULONGLONG>(total)) return true;
            SetLastError(ERROR_WINHTTP_CONNECTION_ERROR);
            return false;
        }
        if (filled == kBodyBufferBytes && !flush()) return FailAndClose();
    }
}

}  // namespace vek
