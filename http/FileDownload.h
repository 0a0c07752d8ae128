// One whole download into a file: a session, a download request, the calling sequence every
// updater download follows, and the clean-up of a failed one.
#pragma once

#include <windows.h>

#include <string>

struct DownloadSettings {
    int resolveMs;
    int connectMs;
    int sendMs;
    int receiveMs;
    DWORD bodyTimeLimitMs;
};

enum class DownloadResult { Complete, SessionFailed, Failed };

class HttpSession;

// Opens session and sets its time-outs for a download with settings. False (error set as for
// SessionFailed below) when no session could be opened.
bool OpenDownloadSession(HttpSession& session, const DownloadSettings& settings, DWORD& error);

// Downloads url into path (created or truncated). On Failed the partial file is deleted and
// error holds the reason, never 0: a failure that set no code of its own reports
// ERROR_WINHTTP_INVALID_SERVER_RESPONSE. SessionFailed (no session could be opened) touches
// no file; error holds the platform's code, or ERROR_WINHTTP_INTERNAL_ERROR when it set none.
DownloadResult DownloadToFile(const std::wstring& url, const std::wstring& path,
                              const DownloadSettings& settings, DWORD& error);
