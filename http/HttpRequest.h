// One synchronous HTTP exchange over an HttpSession: open, send, read the headers and body.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <string>
#include <vector>

#include "http/HttpSession.h"

namespace vek {

class HttpRequest {
  public:
    enum Verb { VerbPost = 0, VerbPut = 1, VerbGet = 2 };

    // The session is borrowed and must outlive the request. pathCapacity bounds the URL path
    // plus query, in wide characters including the terminator.
    HttpRequest(HttpSession* session, unsigned pathCapacity);
    virtual ~HttpRequest();
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    // Codes other than VerbPut and VerbGet send POST.
    bool Open(const wchar_t* url, int verb);
    // After Open: headers ("Name: value", several separated by CRLF) sent with the request.
    bool AddRequestHeaders(const std::wstring& headers);
    // A null body or a length of 0 sends no body. True only when the body was read as well.
    bool Send(const void* body, DWORD length);

    bool QueryStatusCode(DWORD& code);
    // Appends the header's text to value; a missing header leaves value untouched.
    bool QueryHeader(const wchar_t* name, std::wstring& value);
    bool QueryRawHeaders();

    const std::string& RawHeaders() const { return rawHeaders_; }
    const std::string& Body() const { return body_; }

  protected:
    // Reads the whole body into memory. Called by Send only.
    virtual bool ReceiveBody();

    HINTERNET RequestHandle() const { return request_.Get(); }

  private:
    HttpSession* session_;
    ScopedInternet connect_;
    ScopedInternet request_;
    URL_COMPONENTS urlParts_;
    std::vector<wchar_t> hostName_;
    std::vector<wchar_t> urlPath_;
    std::string rawHeaders_;
    std::string body_;
};

}  // namespace vek
