// HttpPostForm through WinHTTP with the system's proxy settings. WinHTTP's own certificate
// checks are switched off and ours run instead, in the callback just before the request goes
// out (so a refused server never sees the form or the credentials): the same checks as the
// mail server's TLS, with the same failure kinds and the extra roots of the request.
#include <windows.h>

#include <wincrypt.h>
#include <winhttp.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/http.h"
#include "platform/win32/cert_verify.h"

namespace platform {
namespace {

// Not in every SDK's headers: Windows 8.1's proxy choice and TLS 1.3.
constexpr DWORD kAutomaticProxy = 4;
constexpr DWORD kTls13 = 0x00002000;

struct Check {
    std::string host;
    HCERTSTORE roots = nullptr;
    TlsFailure failure = TlsFailure::None;
    std::string detail;
    bool checked = false;
};

class Handle {
  public:
    explicit Handle(HINTERNET h = nullptr) : handle(h) {}
    ~Handle() {
        if (handle) {
            ::WinHttpCloseHandle(handle);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HINTERNET handle;
};

void CALLBACK BeforeSending(HINTERNET request, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
    auto* check = reinterpret_cast<Check*>(context);
    if (status != WINHTTP_CALLBACK_STATUS_SENDING_REQUEST || !check || check->checked) {
        return;
    }
    check->checked = true;
    PCCERT_CONTEXT remote = nullptr;
    DWORD size = sizeof remote;
    if (!::WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &remote, &size) ||
        !remote) {
        check->failure = TlsFailure::Certificate;
        check->detail = "no server certificate";
    } else {
        check->failure = VerifyServerCertificate(remote, check->host, check->roots, &check->detail);
        ::CertFreeCertificateContext(remote);
    }
    if (check->failure != TlsFailure::None) {
        // Cancels the request before anything of it is sent.
        ::WinHttpCloseHandle(request);
    }
}

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

std::string Base64(const std::string& bytes) {
    DWORD size = 0;
    const auto* data = reinterpret_cast<const BYTE*>(bytes.data());
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    ::CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, nullptr, &size);
    std::string text(size, '\0');
    ::CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, &text[0], &size);
    text.resize(size);
    return text;
}

HttpAnswer Failed(HttpFailure failure, std::string detail, TlsFailure tls = TlsFailure::None) {
    HttpAnswer answer;
    answer.failure = failure;
    answer.tls = tls;
    answer.detail = std::move(detail);
    return answer;
}

HttpAnswer FromError(DWORD error, const Check& check) {
    if (check.failure != TlsFailure::None) {
        return Failed(HttpFailure::Tls, check.detail, check.failure);
    }
    const std::string words = "WinHTTP error " + std::to_string(error);
    switch (error) {
        case ERROR_WINHTTP_SECURE_FAILURE:
        case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED:
            return Failed(HttpFailure::Tls, words + " (the TLS handshake failed)",
                          TlsFailure::Handshake);
        case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
        case ERROR_WINHTTP_INVALID_URL:
            return Failed(HttpFailure::Url, words);
        default:
            return Failed(HttpFailure::Unreachable, words);
    }
}

}  // namespace

HttpAnswer HttpPostForm(const HttpRequest& request) {
    for (unsigned char c : request.url) {
        if (c <= ' ' || c >= 127) {
            return Failed(HttpFailure::Url, "the URL holds a byte that is not printable ASCII");
        }
    }
    if (request.url.rfind("https://", 0) != 0) {
        return Failed(HttpFailure::Url, "not an https URL");
    }
    const std::wstring url = Wide(request.url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts) || parts.nScheme != INTERNET_SCHEME_HTTPS) {
        return Failed(HttpFailure::Url, "not an https URL WinHTTP can use");
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);

    Check check;
    check.host = std::string(host.begin(), host.end());
    if (!request.caFile.empty()) {
        check.roots = LoadRoots(request.caFile, &check.detail);
        if (!check.roots) {
            return Failed(HttpFailure::Tls, request.caFile + ": " + check.detail,
                          TlsFailure::CaFile);
        }
    }
    struct RootsCloser {
        HCERTSTORE roots;
        ~RootsCloser() {
            if (roots) {
                ::CertCloseStore(roots, 0);
            }
        }
    } closer{check.roots};

    Handle session(::WinHttpOpen(L"Postvane", kAutomaticProxy, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session.handle) {
        // Before Windows 8.1: the proxy configured with netsh winhttp.
        session.handle = ::WinHttpOpen(L"Postvane", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    }
    if (!session.handle) {
        return FromError(::GetLastError(), check);
    }
    const int total = static_cast<int>(request.totalTimeoutMs);
    ::WinHttpSetTimeouts(session.handle, total, static_cast<int>(request.connectTimeoutMs), total,
                         total);
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | kTls13;
    if (!::WinHttpSetOption(session.handle, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                            sizeof protocols)) {
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;  // a system that knows no TLS 1.3
        ::WinHttpSetOption(session.handle, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                           sizeof protocols);
    }
    Handle connection(::WinHttpConnect(session.handle, host.c_str(), parts.nPort, 0));
    if (!connection.handle) {
        return FromError(::GetLastError(), check);
    }
    HINTERNET raw =
        ::WinHttpOpenRequest(connection.handle, L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                             WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    if (!raw) {
        return FromError(::GetLastError(), check);
    }
    Handle requestHandle(raw);
    DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    ::WinHttpSetOption(raw, WINHTTP_OPTION_REDIRECT_POLICY, &redirects, sizeof redirects);
    // Our own checks replace WinHTTP's (see BeforeSending).
    DWORD ignore = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                   SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
    ::WinHttpSetOption(raw, WINHTTP_OPTION_SECURITY_FLAGS, &ignore, sizeof ignore);
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&check);
    ::WinHttpSetOption(raw, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context);
    ::WinHttpSetStatusCallback(raw, BeforeSending, WINHTTP_CALLBACK_FLAG_SEND_REQUEST, 0);

    std::string headers =
        "Content-Type: application/x-www-form-urlencoded\r\nAccept: application/json\r\n";
    if (!request.basicUser.empty()) {
        headers += "Authorization: Basic " +
                   Base64(request.basicUser + ":" + request.basicPassword) + "\r\n";
    }
    const std::wstring wideHeaders = Wide(headers);
    std::string body = request.form;
    const DWORD length = static_cast<DWORD>(body.size());
    if (!::WinHttpSendRequest(raw, wideHeaders.c_str(), static_cast<DWORD>(-1),
                              body.empty() ? WINHTTP_NO_REQUEST_DATA : &body[0], length, length,
                              0)) {
        const DWORD error = ::GetLastError();
        if (check.failure != TlsFailure::None) {
            requestHandle.handle = nullptr;  // closed by the callback
        }
        return FromError(error, check);
    }
    if (!check.checked) {
        // No certificate was looked at: never believe the answer.
        return Failed(HttpFailure::Tls, "the server's certificate was not checked",
                      TlsFailure::Certificate);
    }
    if (!::WinHttpReceiveResponse(raw, nullptr)) {
        return FromError(::GetLastError(), check);
    }
    HttpAnswer answer;
    DWORD status = 0;
    DWORD size = sizeof status;
    ::WinHttpQueryHeaders(raw, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    answer.status = static_cast<long>(status);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(request.totalTimeoutMs);
    char buffer[8192];
    for (;;) {
        DWORD got = 0;
        if (!::WinHttpReadData(raw, buffer, sizeof buffer, &got)) {
            return FromError(::GetLastError(), check);
        }
        if (got == 0) {
            break;
        }
        if (answer.body.size() + got > request.maxAnswerBytes) {
            return Failed(
                HttpFailure::TooLarge,
                "the answer is longer than " + std::to_string(request.maxAnswerBytes) + " bytes");
        }
        answer.body.append(buffer, got);
        if (std::chrono::steady_clock::now() > deadline) {
            return Failed(HttpFailure::Unreachable, "the answer did not come whole in time");
        }
    }
    return answer;
}

}  // namespace platform
