// An HttpRequest whose body is streamed into a file. It succeeds only when exactly the
// announced Content-Length arrived within the time limit.
#pragma once

#include <windows.h>

#include "http/HttpRequest.h"
#include "support/ScopedHandle.h"

namespace vek {

class HttpDownloadRequest : public HttpRequest {
  public:
    static constexpr DWORD kNoTimeLimit = 0xFFFFFFFF;
    // The body is gathered in one buffer of this size and written a buffer at a time.
    static constexpr DWORD kBodyBufferBytes = 256 * 1024;

    HttpDownloadRequest(HttpSession* session, unsigned pathCapacity);
    ~HttpDownloadRequest() override;

    // Longest time the body may take, counted from when its length is known.
    void SetTimeLimit(DWORD milliseconds) { timeLimit_ = milliseconds; }

    // Creates or truncates the file that receives the body.
    virtual bool OpenTargetFile(const wchar_t* path);
    void CloseTargetFile() { targetFile_.Close(); }

  protected:
    bool ReceiveBody() override;
    // Called once the announced Content-Length is known, before any of the body is read.
    // False refuses the body (with the last-error code set) before anything is stored.
    virtual bool AcceptLength(LONGLONG /*total*/) { return true; }
    // Per-chunk hook: writes the chunk. received counts this chunk too; total is the
    // announced Content-Length (LONG_MAX when it is larger). False aborts the download.
    virtual bool OnBodyData(const void* data, DWORD length, DWORD received, LONG total);

    // For a subclass that opens the target its own way (to append, say).
    void AdoptTargetFile(HANDLE file) { targetFile_.Reset(file); }
    HANDLE TargetFile() const { return targetFile_.Get(); }

  private:
    // Closes the target file without disturbing the last-error code of the failure.
    bool FailAndClose();

    ScopedFile targetFile_;
    DWORD timeLimit_ = kNoTimeLimit;
};

}  // namespace vek
