// CSMTPSocket: socket calls of the SMTP client, each failure thrown as a CSMTPException in
// the system facility (7) with the Windows Sockets error number.
#include "mailer/smtp/smtp_socket.h"

#include "mailer/smtp/smtp_exception.h"

CSMTPSocket::~CSMTPSocket() {
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

void CSMTPSocket::Send(const void* data, std::size_t length) {
    const char* next = static_cast<const char*>(data);
    while (length > 0) {
        long sent = platform::SocketSend(handle, next, length);
        if (sent <= 0) {
            if (sent == 0) {
                ThrowError(platform::kWsaTimedOut);
            }
            ThrowLastError();
        }
        next += sent;
        length -= static_cast<std::size_t>(sent);
    }
}

long CSMTPSocket::Receive(void* buffer, std::size_t size) {
    long received = platform::SocketReceive(handle, buffer, size);
    if (received < 0) {
        ThrowLastError();
    }
    return received;
}

bool CSMTPSocket::IsReadable(std::uint32_t milliseconds) {
    int rc = platform::SocketWaitReadable(handle, milliseconds);
    if (rc < 0) {
        ThrowLastError();
    }
    return rc > 0;
}

void CSMTPSocket::Close() {
    if (!IsOpen()) {
        return;
    }
    platform::SocketHandle closing = handle;
    handle = platform::kInvalidSocket;
    if (!platform::SocketClose(closing)) {
        ThrowLastError();
    }
}
