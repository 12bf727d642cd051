// TLS client sessions over a connected socket of platform/socket.h, for the mail sender. A
// session verifies its server before it is handed out: the chain must end at a trusted root
// (the system's, plus the roots of an optional PEM file), the certificate must name the host
// (or its IP address), and the protocol is TLS 1.2 or newer. OpenSSL does the work on POSIX,
// Schannel through SSPI on Windows. Nothing throws: set-up failures say why through
// TlsFailure, and failed sends and receives leave a Windows Sockets error number for
// SocketLastError (WSAETIMEDOUT when the time ran out), as the plain socket calls do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/socket.h"

namespace platform {

enum class TlsFailure {
    None,
    Expired,        // a certificate of the chain has expired or is not yet valid
    UnknownIssuer,  // the chain does not end at a trusted root
    NameMismatch,   // the certificate is not for the host name or address
    Certificate,    // any other verification failure (bad signature, wrong use, revoked)
    CaFile,         // the extra roots file cannot be read or holds no certificate
    Handshake,      // no TLS: refused, no common version or cipher, closed, not TLS at all,
                    // or not done in time
};

struct TlsSession;

// Runs the client handshake on the connected socket within timeoutMs and verifies the server
// for host (a name, also sent as the server name, or a dotted IPv4 address). caFile, when not
// empty, names a PEM file whose certificates are trusted as roots besides the system's. On
// failure returns null with *failure set and *detail in the TLS library's own words; the
// socket is then unusable. While a session lives, use only the Tls calls on its socket.
TlsSession* TlsConnect(SocketHandle socket, const std::string& host, const std::string& caFile,
                       std::uint32_t timeoutMs, TlsFailure* failure, std::string* detail);

// Sends length bytes (length > 0) within timeoutMs: length, or -1 on error or time-out.
long TlsSend(TlsSession* session, const void* data, std::size_t length, std::uint32_t timeoutMs);
// Receives up to size decrypted bytes, waiting at most timeoutMs for the first: the count,
// 0 when the peer closed the session, -1 on error or time-out.
long TlsReceive(TlsSession* session, void* buffer, std::size_t size, std::uint32_t timeoutMs);
// 1 when decrypted bytes are held or arrive within timeoutMs, or the peer has closed (a
// receive then returns at once); 0 on time-out; -1 on error. A socket that is readable
// holds only part of a record, so the wait decrypts what arrives before it answers.
int TlsWaitReadable(TlsSession* session, std::uint32_t timeoutMs);

// Says goodbye to the peer without waiting for its answer and frees the session. The socket
// stays open (and blocking again); closing it is the caller's job.
void TlsClose(TlsSession* session);

}  // namespace platform
