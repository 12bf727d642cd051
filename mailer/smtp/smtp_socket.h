// CSMTPSocket: the one TCP connection of the SMTP client. Thin wrapper over the platform
// socket interface; every failure is thrown as a CSMTPException carrying the Windows Sockets
// error number in the system facility and an empty text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/socket.h"

class CSMTPSocket {
  public:
    CSMTPSocket() = default;
    CSMTPSocket(const CSMTPSocket&) = delete;
    CSMTPSocket& operator=(const CSMTPSocket&) = delete;
    virtual ~CSMTPSocket();

    // An IPv4 stream socket.
    void Create();
    // Binds to bindAddress (port 0) when it is not empty, then connects to host:port. Host and
    // bind address are dotted IPv4 addresses or names.
    void Connect(const std::string& host, std::uint32_t port, const std::string& bindAddress);
    // Sends the whole buffer, retrying short writes; each send may block at most the time-out.
    void Send(const void* data, std::size_t length);
    void Send(const std::string& text) { Send(text.data(), text.size()); }
    // One receive: the byte count, 0 when the peer closed.
    long Receive(void* buffer, std::size_t size);
    // True when the socket becomes readable within milliseconds.
    bool IsReadable(std::uint32_t milliseconds);
    // Closing a closed socket does nothing.
    void Close();
    bool IsOpen() const { return handle != platform::kInvalidSocket; }

    // Bound for the connection attempt and for every send (the connection's replyTimeout).
    void SetTimeout(std::uint32_t milliseconds) { timeoutMs = milliseconds; }

  private:
    [[noreturn]] void ThrowLastError() const;
    [[noreturn]] static void ThrowError(int wsaError);

    platform::SocketHandle handle = platform::kInvalidSocket;
    std::uint32_t timeoutMs = 60000;
};
