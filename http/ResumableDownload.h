// A download into a partial file that a later attempt can continue: the rest of the file is
// asked for with a Range request, and only an answer that provably continues the same file
// is appended. Any other answer to such a request is refused, never spliced on.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "http/FileDownload.h"

// Where a partial download stands. An offset of 0 asks for the whole file.
struct ResumePoint {
    ULONGLONG offset = 0;    // bytes already in the partial file
    ULONGLONG total = 0;     // whole length of the file they belong to
    std::wstring validator;  // what the server called that file (ETag or Last-Modified)
};

// What a 200 answer says about the whole file, for a later resume.
struct WholeFileInfo {
    std::wstring validator;  // a strong ETag, else Last-Modified, else empty
    ULONGLONG total = 0;     // its Content-Length
};

enum class RangeResult {
    Complete,       // the partial file holds the whole body
    SessionFailed,  // no session could be opened; nothing touched
    Failed,         // the transfer failed; the partial file keeps what arrived
    Refused,        // the answer to a range does not continue the partial file: not written
};

// Called with the headers of a 200 answer, once the partial file is empty again and before
// any of the body is written.
using WholeFileStarts = std::function<void(const WholeFileInfo&)>;

// Downloads url into partial. With from.offset above 0 the partial file must hold exactly
// that many bytes: the request carries "Range: bytes=<offset>-" (and "If-Range" with the
// validator, when there is one); a 206 whose Content-Range is "bytes <offset>-<total-1>/<total>"
// with from's total is appended, a 200 replaces the partial file, anything else is Refused.
// Without an offset any status is downloaded, as DownloadToFile does. error is set, never 0,
// unless the result is Complete.
RangeResult DownloadFrom(const std::wstring& url, const std::wstring& partial,
                         const ResumePoint& from, const DownloadSettings& settings,
                         const WholeFileStarts& onWhole, DWORD& error);

// Parses "bytes <first>-<last>/<total>" exactly, in decimal. False for anything else.
bool ParseContentRange(const std::wstring& text, ULONGLONG& first, ULONGLONG& last,
                       ULONGLONG& total);
