// POSIX backend of the TLS client: OpenSSL over the socket, switched to non-blocking for the
// session's life so that every handshake step, send and receive waits on its own deadline
// with poll. Verification is OpenSSL's own (system roots plus the optional PEM file, host
// name or IP address checked against the subjectAltName during the handshake); its verdict
// is mapped to TlsFailure.
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/posix/openssl_verify.h"
#include "platform/posix/socket_error.h"
#include "platform/tls.h"

namespace platform {

struct TlsSession {
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    int fd = -1;
    int savedFlags = 0;
    bool peerClosed = false;
};

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point DeadlineAfter(std::uint32_t timeoutMs) {
    return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

// Waits for the socket to become readable (or writable) before the deadline: 1 ready,
// 0 time-out, -1 error (lastError set either way).
int WaitFor(int fd, short events, Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
        SocketSetLastError(kWsaTimedOut);
        return 0;
    }
    auto ms = static_cast<std::uint32_t>(std::min<long long>(left.count(), 0x7FFFFFFF));
    return events == POLLIN ? SocketWaitReadable(fd, ms) : SocketWaitWritable(fd, ms);
}

// What an OpenSSL call that did not succeed asks for: 1 wait and retry (after the wait
// succeeded), 0 the peer closed the session, -1 failure (lastError set).
int AfterFailedCall(TlsSession* session, int result, Clock::time_point deadline) {
    int error = SSL_get_error(session->ssl, result);
    switch (error) {
        case SSL_ERROR_WANT_READ:
            return WaitFor(session->fd, POLLIN, deadline) > 0 ? 1 : -1;
        case SSL_ERROR_WANT_WRITE:
            return WaitFor(session->fd, POLLOUT, deadline) > 0 ? 1 : -1;
        case SSL_ERROR_ZERO_RETURN:
            return 0;
        case SSL_ERROR_SYSCALL:
            if (errno == 0 || ERR_peek_error() != 0) {
                // The peer went away without saying goodbye: the end of the stream.
                ERR_clear_error();
                return 0;
            }
            SocketSetLastError(ToWsaError(errno));
            return -1;
        default:
            ERR_clear_error();
            SocketSetLastError(kWsaConnReset);  // the session is broken
            return -1;
    }
}

std::string LibraryError() {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return "connection closed during the handshake";
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

void Free(TlsSession* session) {
    if (session->ssl) {
        SSL_free(session->ssl);
    }
    if (session->context) {
        SSL_CTX_free(session->context);
    }
    if (session->fd >= 0) {
        ::fcntl(session->fd, F_SETFL, session->savedFlags);
    }
    delete session;
}

bool IsIpv4Address(const std::string& host) {
    in_addr parsed{};
    return ::inet_pton(AF_INET, host.c_str(), &parsed) == 1;
}

}  // namespace

TlsSession* TlsConnect(SocketHandle socket, const std::string& host, const std::string& caFile,
                       std::uint32_t timeoutMs, TlsFailure* failure, std::string* detail) {
    *failure = TlsFailure::None;
    detail->clear();
    ERR_clear_error();
    auto* session = new TlsSession;
    auto fail = [&](TlsFailure why, std::string words) -> TlsSession* {
        *failure = why;
        *detail = std::move(words);
        Free(session);
        return nullptr;
    };

    session->context = SSL_CTX_new(TLS_client_method());
    if (!session->context || SSL_CTX_set_min_proto_version(session->context, TLS1_2_VERSION) != 1) {
        return fail(TlsFailure::Handshake, LibraryError());
    }
    SSL_CTX_set_verify(session->context, SSL_VERIFY_PEER, nullptr);
    // A peer that closes without goodbye ends the stream as a plain socket's close does; the
    // SMTP dialogue itself tells a cut reply from a whole one.
    SSL_CTX_set_options(session->context, SSL_OP_IGNORE_UNEXPECTED_EOF);
    // A system without a root store still works with an explicit roots file.
    SSL_CTX_set_default_verify_paths(session->context);
    if (!caFile.empty() &&
        SSL_CTX_load_verify_locations(session->context, caFile.c_str(), nullptr) != 1) {
        return fail(TlsFailure::CaFile, caFile + ": " + LibraryError());
    }

    session->ssl = SSL_new(session->context);
    if (!session->ssl) {
        return fail(TlsFailure::Handshake, LibraryError());
    }
    // A name only in the subject's CN is no name (RFC 6125 6.4.4): OpenSSL would fall back
    // to it when the certificate has no DNS subjectAltName.
    SSL_set_hostflags(session->ssl,
                      X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS | X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
    if (IsIpv4Address(host)) {
        // An address is checked against the certificate's IP entries and never sent as a
        // server name (names only, RFC 6066).
        if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(session->ssl), host.c_str()) != 1) {
            return fail(TlsFailure::Handshake, LibraryError());
        }
    } else if (host.empty() || SSL_set1_host(session->ssl, host.c_str()) != 1 ||
               SSL_set_tlsext_host_name(session->ssl, host.c_str()) != 1) {
        return fail(TlsFailure::NameMismatch, "no usable host name to check: '" + host + "'");
    }

    int fd = static_cast<int>(socket);
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        return fail(TlsFailure::Handshake, "socket error " + std::to_string(ToWsaError(errno)));
    }
    session->fd = fd;
    session->savedFlags = flags;
    if (SSL_set_fd(session->ssl, fd) != 1) {
        return fail(TlsFailure::Handshake, LibraryError());
    }

    Clock::time_point deadline = DeadlineAfter(timeoutMs);
    for (;;) {
        int rc = SSL_connect(session->ssl);
        if (rc == 1) {
            break;
        }
        long verdict = SSL_get_verify_result(session->ssl);
        if (verdict != X509_V_OK) {
            ERR_clear_error();
            return fail(TlsFailureOfVerifyResult(verdict), X509_verify_cert_error_string(verdict));
        }
        int error = SSL_get_error(session->ssl, rc);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            return fail(TlsFailure::Handshake, LibraryError());
        }
        int ready = WaitFor(session->fd, error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline);
        if (ready == 0) {
            return fail(TlsFailure::Handshake, "no answer within the time-out");
        }
        if (ready < 0) {
            return fail(TlsFailure::Handshake, "socket error " + std::to_string(SocketLastError()));
        }
    }
    return session;
}

long TlsSend(TlsSession* session, const void* data, std::size_t length, std::uint32_t timeoutMs) {
    Clock::time_point deadline = DeadlineAfter(timeoutMs);
    for (;;) {
        std::size_t written = 0;
        int rc = SSL_write_ex(session->ssl, data, length, &written);
        if (rc == 1) {
            return static_cast<long>(written);
        }
        int next = AfterFailedCall(session, rc, deadline);
        if (next == 0) {
            SocketSetLastError(kWsaShutdown);  // the peer ended the session
            return -1;
        }
        if (next < 0) {
            return -1;
        }
    }
}

int TlsWaitReadable(TlsSession* session, std::uint32_t timeoutMs) {
    if (session->peerClosed || SSL_pending(session->ssl) > 0) {
        return 1;
    }
    Clock::time_point deadline = DeadlineAfter(timeoutMs);
    for (;;) {
        // Peeking decrypts a whole record (or handles a handshake message) without taking
        // the data, so a later receive finds it.
        unsigned char byte = 0;
        std::size_t peeked = 0;
        int rc = SSL_peek_ex(session->ssl, &byte, 1, &peeked);
        if (rc == 1) {
            return 1;
        }
        int next = AfterFailedCall(session, rc, deadline);
        if (next == 0) {
            session->peerClosed = true;
            return 1;
        }
        if (next < 0) {
            return SocketLastError() == kWsaTimedOut ? 0 : -1;
        }
    }
}

long TlsReceive(TlsSession* session, void* buffer, std::size_t size, std::uint32_t timeoutMs) {
    if (size == 0) {
        return 0;
    }
    int ready = TlsWaitReadable(session, timeoutMs);
    if (ready <= 0) {
        if (ready == 0) {
            SocketSetLastError(kWsaTimedOut);
        }
        return -1;
    }
    if (session->peerClosed) {
        return 0;
    }
    std::size_t received = 0;
    int rc = SSL_read_ex(session->ssl, buffer, size, &received);
    if (rc == 1) {
        return static_cast<long>(received);
    }
    // The peeked record is there, so anything but data here means the session ended.
    int next = AfterFailedCall(session, rc, DeadlineAfter(0));
    if (next == 0) {
        session->peerClosed = true;
        return 0;
    }
    return -1;
}

void TlsClose(TlsSession* session) {
    if (!session) {
        return;
    }
    if (!session->peerClosed) {
        // One try: the close_notify goes out if the socket takes it; no answer is awaited.
        SSL_shutdown(session->ssl);
    }
    ERR_clear_error();
    Free(session);
}

TlsFailure TlsFailureOfVerifyResult(long result) {
    switch (result) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return TlsFailure::Expired;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
            return TlsFailure::UnknownIssuer;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return TlsFailure::NameMismatch;
        default:
            return TlsFailure::Certificate;
    }
}

}  // namespace platform
