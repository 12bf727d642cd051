// CSMTPSocket: socket calls of the SMTP client, each failure thrown as a CSMTPException in
// the system facility (7) with the Windows Sockets error number, or as the failure table's
// code for the TLS set-up failure, with the TLS library's reason.
#include "mailer/smtp/smtp_socket.h"

#include <algorithm>
#include <chrono>

#include "mailer/smtp/smtp_exception.h"

CSMTPSocket::~CSMTPSocket() {
    if (tls) {
        platform::TlsClose(tls);
        tls = nullptr;
    }
    if (IsOpen()) {
        platform::SocketClose(handle);
        handle = platform::kInvalidSocket;
    }
}

void CSMTPSocket::ThrowError(int wsaError) {
    throw CSMTPException(SmtpSocketError(static_cast<std::uint32_t>(wsaError)));
}

void CSMTPSocket::ThrowLastError() const {
    ThrowError(platform::SocketLastError());
}

void CSMTPSocket::Create() {
    Close();
    handle = platform::SocketCreateTcp();
    if (!IsOpen()) {
        ThrowLastError();
    }
}

void CSMTPSocket::Connect(const std::string& host, std::uint32_t port,
                          const std::string& bindAddress) {
    if (!IsOpen()) {
        Create();
    }
    if (!bindAddress.empty()) {
        std::uint32_t local = 0;
        if (!platform::SocketResolve(bindAddress, &local) ||
            !platform::SocketBind(handle, local, 0)) {
            ThrowLastError();
        }
    }
    std::uint32_t remote = 0;
    if (!platform::SocketResolve(host, &remote)) {
        ThrowLastError();
    }
    // A port that does not fit 16 bits would silently name another port.
    if (port > 0xFFFF) {
        ThrowError(platform::kWsaInvalidArgument);
    }
    if (!platform::SocketConnect(handle, remote, static_cast<std::uint16_t>(port), timeoutMs)) {
        ThrowLastError();
    }
    if (!platform::SocketSetSendTimeout(handle, timeoutMs)) {
        ThrowLastError();
    }
}

std::string CSMTPSocket::LocalAddressLiteral() const {
    std::string address;
    bool ipv6 = false;
    if (!IsOpen() || !platform::SocketLocalAddress(handle, &address, &ipv6)) {
        return {};
    }
    return (ipv6 ? "[IPv6:" : "[") + address + "]";
}

void CSMTPSocket::StartTls(const std::string& host, const std::string& caFile) {
    if (!IsOpen()) {
        ThrowError(platform::kWsaNotConnected);
    }
    // The server speaks first only after our hello, so anything already waiting was put on
    // the wire by someone else and would be read as if it came through TLS.
    if (platform::SocketWaitReadable(handle, 0) != 0) {
        Close();
        throw SmtpProtocolFailure(kSmtpTlsHandshake, "data arrived before the TLS handshake");
    }
    platform::TlsFailure failure = platform::TlsFailure::None;
    std::string detail;
    tls = platform::TlsConnect(handle, host, caFile, timeoutMs, &failure, &detail);
    if (!tls) {
        Close();
        throw CSMTPException(TlsFailureCode(failure), detail);
    }
}

void CSMTPSocket::SendPiece(const char* data, std::size_t length) {
    if (tls) {
        if (platform::TlsSend(tls, data, length, timeoutMs) < 0) {
            ThrowLastError();
        }
        return;
    }
    using Clock = std::chrono::steady_clock;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (length > 0) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        // The send time-out bounds what is left of this piece's time (0 would mean no bound).
        if (left <= 0 ||
            !platform::SocketSetSendTimeout(handle, static_cast<std::uint32_t>(left))) {
            ThrowError(left <= 0 ? platform::kWsaTimedOut : platform::SocketLastError());
        }
        long sent = platform::SocketSend(handle, data, length);
        if (sent <= 0) {
            if (sent == 0) {
                ThrowError(platform::kWsaTimedOut);
            }
            ThrowLastError();
        }
        data += sent;
        length -= static_cast<std::size_t>(sent);
    }
}

void CSMTPSocket::Send(const void* data, std::size_t length) {
    const char* next = static_cast<const char*>(data);
    while (length > 0) {
        std::size_t piece = std::min(length, kSendChunk);
        SendPiece(next, piece);
        next += piece;
        length -= piece;
    }
}

long CSMTPSocket::Receive(void* buffer, std::size_t size) {
    long received = tls ? platform::TlsReceive(tls, buffer, size, timeoutMs)
                        : platform::SocketReceive(handle, buffer, size);
    if (received < 0) {
        ThrowLastError();
    }
    return received;
}

bool CSMTPSocket::IsReadable(std::uint32_t milliseconds) {
    int rc = tls ? platform::TlsWaitReadable(tls, milliseconds)
                 : platform::SocketWaitReadable(handle, milliseconds);
    if (rc < 0) {
        ThrowLastError();
    }
    return rc > 0;
}

void CSMTPSocket::Close() {
    if (tls) {
        platform::TlsClose(tls);
        tls = nullptr;
    }
    if (!IsOpen()) {
        return;
    }
    platform::SocketHandle closing = handle;
    handle = platform::kInvalidSocket;
    if (!platform::SocketClose(closing)) {
        ThrowLastError();
    }
}
