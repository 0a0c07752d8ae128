#include "http/ResumableDownload.h"

#include <winhttp.h>

#include "http/HttpDownloadRequest.h"
#include "http/HttpSession.h"
#include "support/LastError.h"
#include "support/ScopedHandle.h"

namespace {

constexpr unsigned kPathCapacity = 10240;

// Reads decimal digits at text[pos], advancing pos; false when there are none or the value
// does not fit 64 bits.
bool ReadDecimal(const std::wstring& text, size_t& pos, ULONGLONG& value) {
    const size_t first = pos;
    value = 0;
    for (; pos < text.size() && text[pos] >= L'0' && text[pos] <= L'9'; ++pos) {
        const ULONGLONG digit = static_cast<ULONGLONG>(text[pos] - L'0');
        if (value > (~0ULL - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return pos != first;
}

bool SetFileLength(HANDLE file, ULONGLONG length) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(length);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != FALSE && SetEndOfFile(file) != FALSE;
}

class ResumingRequest : public vek::HttpDownloadRequest {
  public:
    ResumingRequest(HttpSession* session, const ResumePoint& from, const WholeFileStarts& onWhole)
        : HttpDownloadRequest(session, kPathCapacity), from_(from), onWhole_(onWhole) {}

    // The partial file, cut to exactly the resume offset, or created empty without one.
    bool OpenPartial(const std::wstring& path) {
        const bool resuming = from_.offset != 0;
        ScopedFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                    resuming ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
        if (!file) return false;
        if (resuming) {
            // Never padded: a file shorter than its offset (changed since it was measured)
            // cannot be continued.
            LARGE_INTEGER size;
            if (!GetFileSizeEx(file.Get(), &size) ||
                static_cast<ULONGLONG>(size.QuadPart) < from_.offset) {
                SetLastError(ERROR_HANDLE_EOF);
                return false;
            }
            if (!SetFileLength(file.Get(), from_.offset)) return false;
        }
        AdoptTargetFile(file.Release());
        return true;
    }

    bool SendRangeHeaders() {
        if (from_.offset == 0) return true;
        std::wstring headers = L"Range: bytes=" + std::to_wstring(from_.offset) + L"-";
        if (!from_.validator.empty()) headers += L"\r\nIf-Range: " + from_.validator;
        return AddRequestHeaders(headers);
    }

    bool Refused() const { return refused_; }

  protected:
    bool AcceptLength(LONGLONG length) override {
        DWORD status = 0;
        if (!QueryStatusCode(status)) return false;
        if (status == HTTP_STATUS_OK) {
            // The whole file, from its first byte: whatever the partial file held goes.
            if (from_.offset != 0 && !SetFileLength(TargetFile(), 0)) return false;
            if (onWhole_) onWhole_(Describe(length));
            return true;
        }
        // A request for the whole file takes any answer as its body, as every download does.
        if (from_.offset == 0 || (status == HTTP_STATUS_PARTIAL_CONTENT && Continues(length)))
            return true;
        refused_ = true;
        SetLastError(ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
        return false;
    }

  private:
    // The rest of exactly the recorded file, and nothing else, may be appended.
    bool Continues(LONGLONG length) {
        std::wstring range;
        ULONGLONG first = 0, last = 0, total = 0;
        return QueryHeader(L"Content-Range", range) &&
               ParseContentRange(range, first, last, total) && first == from_.offset &&
               total == from_.total && last + 1 == total && length >= 0 &&
               static_cast<ULONGLONG>(length) == total - first;
    }

    WholeFileInfo Describe(LONGLONG length) {
        WholeFileInfo info;
        info.total = length > 0 ? static_cast<ULONGLONG>(length) : 0;
        std::wstring etag;
        // A weak tag does not promise the same bytes, so it cannot guard a range.
        if (QueryHeader(L"ETag", etag) && !etag.empty() && etag.compare(0, 2, L"W/") != 0) {
            info.validator = etag;
        } else {
            QueryHeader(L"Last-Modified", info.validator);
        }
        return info;
    }

    ResumePoint from_;
    const WholeFileStarts& onWhole_;
    bool refused_ = false;
};

}  // namespace

bool ParseContentRange(const std::wstring& text, ULONGLONG& first, ULONGLONG& last,
                       ULONGLONG& total) {
    const std::wstring unit = L"bytes ";
    if (text.compare(0, unit.size(), unit) != 0) return false;
    size_t pos = unit.size();
    if (!ReadDecimal(text, pos, first) || pos >= text.size() || text[pos++] != L'-') return false;
    if (!ReadDecimal(text, pos, last) || pos >= text.size() || text[pos++] != L'/') return false;
    return ReadDecimal(text, pos, total) && pos == text.size() && first <= last && last < total;
}

RangeResult DownloadFrom(const std::wstring& url, const std::wstring& partial,
                         const ResumePoint& from, const DownloadSettings& settings,
                         const WholeFileStarts& onWhole, DWORD& error) {
    HttpSession session;
    if (!OpenDownloadSession(session, settings, error)) return RangeResult::SessionFailed;
    ResumingRequest request(&session, from, onWhole);
    request.SetTimeLimit(settings.bodyTimeLimitMs);
    if (request.OpenPartial(partial) && request.Open(url.c_str(), vek::HttpRequest::VerbGet) &&
        request.SendRangeHeaders() && request.Send(nullptr, 0)) {
        return RangeResult::Complete;
    }
    error = LastErrorOr(ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
    request.CloseTargetFile();
    return request.Refused() ? RangeResult::Refused : RangeResult::Failed;
}
