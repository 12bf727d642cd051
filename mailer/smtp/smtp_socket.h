// CSMTPSocket: the one TCP connection of the SMTP client. Thin wrapper over the platform
// socket interface, with TLS underneath when asked for (StartTls), so the dialogue above is
// the same either way. Every failure is thrown as a CSMTPException: transport failures carry
// the Windows Sockets error number in the system facility and an empty text, TLS set-up
// failures a TLS code (smtp_exception.h) and the TLS library's reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/socket.h"
#include "platform/tls.h"

// How the connection is protected (the SMTPTLS setting).
enum class TlsMode {
    None,      // clear text, as always
    StartTls,  // EHLO, STARTTLS, then TLS before anything else is said (RFC 3207)
    Implicit,  // TLS from the first byte (RFC 8314)
};

class CSMTPSocket {
  public:
    // Largest piece handed to one send call; each piece has the whole time-out to itself, so
    // a large message on a slow link is not bounded by one time-out, a stalled peer still is.
    static constexpr std::size_t kSendChunk = 64 * 1024;

    CSMTPSocket() = default;
    CSMTPSocket(const CSMTPSocket&) = delete;
    CSMTPSocket& operator=(const CSMTPSocket&) = delete;
    virtual ~CSMTPSocket();

    // An IPv4 stream socket.
    void Create();
    // Binds to bindAddress (port 0) when it is not empty, then connects to host:port. Host and
    // bind address are dotted IPv4 addresses or names.
    void Connect(const std::string& host, std::uint32_t port, const std::string& bindAddress);
    // Runs the TLS handshake on the connection and verifies the server's certificate for
    // host, trusting caFile's roots too when it is not empty. On failure the socket is closed
    // (nothing more may be said in clear text) and the TLS failure is thrown.
    void StartTls(const std::string& host, const std::string& caFile);
    bool IsTls() const { return tls != nullptr; }
    // Sends the whole buffer in pieces of at most kSendChunk bytes.
    void Send(const void* data, std::size_t length);
    void Send(const std::string& text) { Send(text.data(), text.size()); }
    // One receive: the byte count, 0 when the peer closed.
    long Receive(void* buffer, std::size_t size);
    // True when data can be received at once, within milliseconds at most (at once when TLS
    // holds decrypted bytes not yet received).
    bool IsReadable(std::uint32_t milliseconds);
    // Closing a closed socket does nothing.
    void Close();
    bool IsOpen() const { return handle != platform::kInvalidSocket; }
    // The local end's address as an SMTP address literal ("[192.0.2.1]", "[IPv6:2001:db8::1]",
    // RFC 5321 4.1.3); empty when it cannot be told.
    std::string LocalAddressLiteral() const;

    // Bound for the connection attempt, the handshake and every piece sent (the
    // connection's replyTimeout).
    void SetTimeout(std::uint32_t milliseconds) { timeoutMs = milliseconds; }

  private:
    [[noreturn]] void ThrowLastError() const;
    [[noreturn]] static void ThrowError(int wsaError);
    void SendPiece(const char* data, std::size_t length);

    platform::SocketHandle handle = platform::kInvalidSocket;
    platform::TlsSession* tls = nullptr;
    std::uint32_t timeoutMs = 60000;
};
