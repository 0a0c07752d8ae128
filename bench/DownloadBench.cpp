// Times the updater's download of one URL into a file through the bridge's download request
// (the package's limits): the best of N runs. Prints one line for bench/run.sh:
//   download bytes=<file size> seconds=<best> ok=<1 when every run completed>
// With "bare" after the runs it times instead the platform's ceiling: a plain loop of
// WinHttpReadData into one 1 MiB buffer until it returns 0 bytes, writing nothing; bytes is
// then what that loop received.
// The clock runs around the call only, so the process's start-up is not in the figure.
#include <windows.h>
#include <winhttp.h>

#include "BenchClock.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "http/FileDownload.h"
#include "support/TextConvert.h"
#include "updater/DownloadLimits.h"

namespace {

// Closes a WinHTTP handle when it goes out of scope.
struct Internet {
    HINTERNET handle;
    explicit Internet(HINTERNET h) : handle(h) {}
    ~Internet() {
        if (handle != nullptr) WinHttpCloseHandle(handle);
    }
    Internet(const Internet&) = delete;
    Internet& operator=(const Internet&) = delete;
};

// The bare loop; false when any call failed.
bool BareDownload(const std::wstring& url, unsigned long long& bytes) {
    bytes = 0;
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    wchar_t host[256], path[2048];
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
    Internet session(WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0));
    if (session.handle == nullptr) return false;
    Internet connection(WinHttpConnect(session.handle, host, parts.nPort, 0));
    if (connection.handle == nullptr) return false;
    Internet request(WinHttpOpenRequest(connection.handle, L"GET", path, nullptr,
                                        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
    if (request.handle == nullptr ||
        !WinHttpSendRequest(request.handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.handle, nullptr))
        return false;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        DWORD read = 0;
        if (!WinHttpReadData(request.handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                             &read))
            return false;
        if (read == 0) return true;
        bytes += read;
    }
}

unsigned long long FileBytes(const std::wstring& file) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data);
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

int main(int argc, char** argv) {
    const bool bare = argc == 5 && std::strcmp(argv[4], "bare") == 0;
    if (argc != 4 && !bare) {
        std::fprintf(stderr, "usage: DownloadBench <url> <file> <runs> [bare]\n");
        return 2;
    }
    std::wstring url, file;
    AnsiToWide(argv[1], url);
    AnsiToWide(argv[2], file);
    int runs = std::atoi(argv[3]);
    double best = 1e30;
    bool ok = true;
    unsigned long long bytes = 0;
    for (int i = 0; i < runs && ok; ++i) {
        DWORD error = 0;
        double start = NowSeconds();
        ok = bare ? BareDownload(url, bytes)
                  : DownloadToFile(url, file, DownloadLimits(DownloadKind::Package), error) ==
                        DownloadResult::Complete;
        double seconds = NowSeconds() - start;
        if (seconds < best) best = seconds;
    }
    if (!bare) bytes = FileBytes(file);
    std::printf("download bytes=%llu seconds=%.6f ok=%d\n", bytes, best, ok ? 1 : 0);
    return ok ? 0 : 1;
}
