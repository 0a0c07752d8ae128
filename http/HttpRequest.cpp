#include "http/HttpRequest.h"

#include "support/TextConvert.h"

namespace vek {

namespace {
// Room for the host name and its terminator; longer names make cracking the URL fail.
const DWORD kHostCapacity = 260;
}  // namespace

HttpRequest::HttpRequest(HttpSession* session, unsigned pathCapacity)
    : session_(session),
      urlParts_(),
      hostName_(kHostCapacity, L'\0'),
      urlPath_(pathCapacity, L'\0') {
    urlParts_.dwStructSize = sizeof(urlParts_);
    // Only the scheme, host and path are asked for. Leaving the extra information out keeps
    // the query ("?tick=...") in the path that is sent.
    urlParts_.dwSchemeLength = static_cast<DWORD>(-1);
    urlParts_.lpszHostName = hostName_.data();
    urlParts_.dwHostNameLength = kHostCapacity;
    urlParts_.lpszUrlPath = urlPath_.empty() ? nullptr : urlPath_.data();
    urlParts_.dwUrlPathLength = static_cast<DWORD>(urlPath_.size());
}

HttpRequest::~HttpRequest() {
    connect_.Close();
    request_.Close();
}

bool HttpRequest::Open(const wchar_t* url, int verb) {
    if (!WinHttpCrackUrl(url, static_cast<DWORD>(lstrlenW(url)), 0, &urlParts_)) return false;

    connect_.Reset(WinHttpConnect(session_->GetHandle(), hostName_.data(), urlParts_.nPort, 0));
    if (!connect_) return false;

    const wchar_t* verbText = L"POST";
    if (verb == VerbPut) {
        verbText = L"PUT";
    } else if (verb == VerbGet) {
        verbText = L"GET";
    }
    const DWORD flags = urlParts_.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;

    request_.Reset(WinHttpOpenRequest(connect_.Get(), verbText, urlParts_.lpszUrlPath, nullptr,
                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    return request_.Valid();
}

bool HttpRequest::AddRequestHeaders(const std::wstring& headers) {
    return WinHttpAddRequestHeaders(request_.Get(), headers.c_str(),
                                    static_cast<DWORD>(headers.size()),
                                    WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE) != FALSE;
}

bool HttpRequest::Send(const void* body, DWORD length) {
    if (!WinHttpSendRequest(request_.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, length, 0)) {
        return false;
    }
    if (body != nullptr && length != 0) {
        DWORD written = 0;
        if (!WinHttpWriteData(request_.Get(), body, length, &written)) return false;
    }
    if (!WinHttpReceiveResponse(request_.Get(), nullptr)) return false;
    if (!QueryRawHeaders()) return false;
    return ReceiveBody();
}

bool HttpRequest::QueryRawHeaders() {
    DWORD size = 0;
    if (!WinHttpQueryHeaders(request_.Get(), WINHTTP_QUERY_RAW_HEADERS_CRLF,
                             WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                             WINHTTP_NO_HEADER_INDEX) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return false;
    }

    // One spare character, so the text is terminated even if the size was odd or exact.
    std::vector<wchar_t> wide(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = static_cast<DWORD>((wide.size() - 1) * sizeof(wchar_t));
    if (!WinHttpQueryHeaders(request_.Get(), WINHTTP_QUERY_RAW_HEADERS_CRLF,
                             WINHTTP_HEADER_NAME_BY_INDEX, wide.data(), &bytes,
                             WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }

    WideToAnsi(wide.data(), rawHeaders_);
    return true;
}

bool HttpRequest::QueryHeader(const wchar_t* name, std::wstring& value) {
    DWORD size = 0;
    if (!WinHttpQueryHeaders(request_.Get(), WINHTTP_QUERY_CUSTOM, name, WINHTTP_NO_OUTPUT_BUFFER,
                             &size, WINHTTP_NO_HEADER_INDEX) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return false;
    }

    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = static_cast<DWORD>((text.size() - 1) * sizeof(wchar_t));
    if (!WinHttpQueryHeaders(request_.Get(), WINHTTP_QUERY_CUSTOM, name, text.data(), &bytes,
                             WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    // On success the byte count excludes the terminator.
    value.append(text.data(), bytes / sizeof(wchar_t));
    return true;
}

bool HttpRequest::QueryStatusCode(DWORD& code) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!WinHttpQueryHeaders(request_.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    code = status;
    return true;
}

bool HttpRequest::ReceiveBody() {
    for (;;) {
        DWORD ready = 0;
        if (!WinHttpQueryDataAvailable(request_.Get(), &ready) || ready == 0) return true;

        std::vector<char> chunk(ready);
        DWORD read = 0;
        if (!WinHttpReadData(request_.Get(), chunk.data(), ready, &read)) return false;
        body_.append(chunk.data(), read);
    }
}

}  // namespace vek
