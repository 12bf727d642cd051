// HTTPS POST of a form, for the OAuth token endpoint: one request, one answer, bounded. The
// server is verified as the TLS sessions of tls.h verify the mail server (the system's roots
// plus an optional PEM file, the host name, TLS 1.2 or newer); only https URLs are fetched
// and redirects are not followed. libcurl does the work on POSIX, WinHTTP (with the system's
// proxy settings) on Windows. Nothing throws: a failure says what went wrong in HttpAnswer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/tls.h"

namespace platform {

struct HttpRequest {
    std::string url;   // https://host[:port]/path
    std::string form;  // application/x-www-form-urlencoded body
    // HTTP Basic credentials when user is not empty (client id and secret).
    std::string basicUser;
    std::string basicPassword;
    std::string caFile;  // extra trusted roots (PEM), may be empty
    std::uint32_t connectTimeoutMs = 15000;
    std::uint32_t totalTimeoutMs = 30000;
    std::size_t maxAnswerBytes = 64 * 1024;
};

enum class HttpFailure {
    None,         // an answer came: see status
    Url,          // not an https URL this client can use
    Unreachable,  // name, connection, time-out or a broken transfer
    Tls,          // the TLS set-up failed: see tls
    TooLarge,     // the answer is longer than maxAnswerBytes
};

struct HttpAnswer {
    HttpFailure failure = HttpFailure::None;
    TlsFailure tls = TlsFailure::None;
    std::string detail;  // the library's words for a failure
    long status = 0;     // the HTTP status of an answer
    std::string body;
};

HttpAnswer HttpPostForm(const HttpRequest& request);

// "%XX" for every byte but the unreserved ones (RFC 3986), as form values need.
std::string FormEncode(const std::string& value);

}  // namespace platform
