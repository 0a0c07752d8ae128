// One whole download into memory, for the small documents that are verified and parsed as
// the very bytes that arrived: nothing is written to disk and nothing is read back.
#pragma once

#include <windows.h>

#include <string>

#include "http/FileDownload.h"

// Downloads url into body, at most maxBytes of it. A body announced or arriving longer is
// refused before it is stored, with ERROR_FILE_TOO_LARGE; the other results and codes are
// those of DownloadToFile. body is empty unless the result is Complete.
DownloadResult DownloadToMemory(const std::wstring& url, const DownloadSettings& settings,
                                size_t maxBytes, std::string& body, DWORD& error);
