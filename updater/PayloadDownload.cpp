#include "updater/PayloadDownload.h"

#include <winhttp.h>

#include "support/TextConvert.h"
#include "updater/PartialDownload.h"
#include "updater/PayloadDigest.h"

namespace {

constexpr int kAttempts = 3;
// Before the second and the third attempt: a moment for a connection that dropped to come
// back, short enough not to hold the run up.
constexpr DWORD kRetryPauseMs[kAttempts - 1] = {1000, 2000};

enum class Attempt { Done, Retry, RetryWhole, GiveUp };

// The whole file, as recorded, with the digest it must have: it takes the final name.
Attempt Finish(const PayloadRequest& request, const std::wstring& requestUrl, bool continued) {
    const std::wstring partial = PartialPath(request.target);
    PartialRecord record;
    ULONGLONG size = 0;
    if (ReadPartialRecord(request.target, record) &&
        (!FileLength(partial, size) || size != record.total)) {
        request.logFailure(requestUrl, ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
        DiscardPartial(request.target);
        return Attempt::RetryWhole;
    }
    if (!PayloadMatchesDigest(request.sha256, partial, request.url)) {
        DiscardPartial(request.target);
        // Bytes from two attempts may not belong together; one whole download decides.
        return continued ? Attempt::RetryWhole : Attempt::GiveUp;
    }
    if (!MoveFileExW(partial.c_str(), request.target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        request.logFailure(requestUrl, GetLastError());
        DiscardPartial(request.target);
        return Attempt::GiveUp;
    }
    DeleteFileW(PartialRecordPath(request.target).c_str());
    return Attempt::Done;
}

Attempt Try(const PayloadRequest& request, bool whole) {
    const std::wstring requestUrl =
        request.url + request.cacheQuery + DecimalText(static_cast<int>(GetTickCount()));
    ResumePoint from;
    if (!whole) from = PartialResumePoint(request.target, request.url, request.sha256);
    if (from.offset == 0) DiscardPartial(request.target);

    const PartialRecord base{request.url, std::wstring(), 0, request.sha256};
    auto record = [&](const WholeFileInfo& info) {
        PartialRecord next = base;
        next.validator = info.validator;
        next.total = info.total;
        // Without a record the download goes on; it just cannot be continued later.
        if (!WritePartialRecord(request.target, next))
            DeleteFileW(PartialRecordPath(request.target).c_str());
    };
    DWORD error = ERROR_SUCCESS;
    switch (DownloadFrom(requestUrl, PartialPath(request.target), from,
                         DownloadLimits(request.kind), record, error)) {
        case RangeResult::Complete:
            return Finish(request, requestUrl, from.offset != 0);
        case RangeResult::SessionFailed:
            return Attempt::GiveUp;
        case RangeResult::Refused:
            // Not the rest of the file we hold: it is of no use any more.
            request.logFailure(requestUrl, error);
            DiscardPartial(request.target);
            return Attempt::RetryWhole;
        case RangeResult::Failed:
            break;
    }
    request.logFailure(requestUrl, error);
    return Attempt::Retry;
}

}  // namespace

bool DownloadPayload(const PayloadRequest& request) {
    bool whole = false;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt > 0) Sleep(kRetryPauseMs[attempt - 1]);
        const Attempt result = Try(request, whole);
        if (result == Attempt::Done) return true;
        if (result == Attempt::GiveUp) break;
        whole = result == Attempt::RetryWhole;
    }
    // Only a partial file that a later start can continue stays.
    if (PartialResumePoint(request.target, request.url, request.sha256).offset == 0)
        DiscardPartial(request.target);
    return false;
}
