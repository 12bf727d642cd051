// A thin TCP socket interface for the mail sender (and the tests' loopback servers): IPv4
// name resolution, connect, send, receive, a readable/writable wait with a time-out, close,
// the last error, the local end's address and the local host's names. Every call reports failure
// through its result and leaves the Windows Sockets error number (WSAE... values, also on POSIX,
// mapped from errno) for SocketLastError; nothing throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

using SocketHandle = std::intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

// Windows Sockets error numbers the callers look at or set, named once here.
constexpr int kWsaInvalidArgument = 10022;  // WSAEINVAL
constexpr int kWsaNetUnreachable = 10051;   // WSAENETUNREACH
constexpr int kWsaConnAborted = 10053;      // WSAECONNABORTED
constexpr int kWsaConnReset = 10054;        // WSAECONNRESET
constexpr int kWsaNotConnected = 10057;     // WSAENOTCONN
constexpr int kWsaShutdown = 10058;         // WSAESHUTDOWN
constexpr int kWsaTimedOut = 10060;         // WSAETIMEDOUT
constexpr int kWsaConnRefused = 10061;      // WSAECONNREFUSED
constexpr int kWsaHostUnreachable = 10065;  // WSAEHOSTUNREACH
constexpr int kWsaHostNotFound = 11001;     // WSAHOST_NOT_FOUND

// Starts the socket library once per process (WSAStartup on Windows; elsewhere it makes a
// write to a closed connection an error instead of a signal). False when that fails.
bool SocketStartup();
void SocketCleanup();

// An IPv4 stream socket; kInvalidSocket on failure.
SocketHandle SocketCreateTcp();
// A dotted IPv4 address is taken as it is; any other text is looked up (first IPv4 address).
// The address is in network byte order.
bool SocketResolve(const std::string& host, std::uint32_t* address);
bool SocketBind(SocketHandle socket, std::uint32_t address, std::uint16_t port);
// Connects, waiting at most timeoutMs for the connection to be made.
bool SocketConnect(SocketHandle socket, std::uint32_t address, std::uint16_t port,
                   std::uint32_t timeoutMs);
// Longest time a single send may block; 0 means no bound.
bool SocketSetSendTimeout(SocketHandle socket, std::uint32_t timeoutMs);
// One send call: bytes sent (possibly fewer than length), -1 on error.
long SocketSend(SocketHandle socket, const void* data, std::size_t length);
// One receive call: bytes received, 0 when the peer closed, -1 on error.
long SocketReceive(SocketHandle socket, void* buffer, std::size_t size);
// 1 when readable (or writable) within timeoutMs, 0 on time-out, -1 on error.
int SocketWaitReadable(SocketHandle socket, std::uint32_t timeoutMs);
int SocketWaitWritable(SocketHandle socket, std::uint32_t timeoutMs);
bool SocketClose(SocketHandle socket);
// The Windows Sockets error number of the last failed call on this thread.
int SocketLastError();
// Sets it, for the layers that run over a socket (TLS) and fail for reasons of their own.
void SocketSetLastError(int wsaError);

// Listening side, used by loopback servers: listen on 127.0.0.1 at port (0: any free port).
SocketHandle SocketListenLoopback(std::uint16_t port);
// The port a socket is bound to, 0 on error.
std::uint16_t SocketLocalPort(SocketHandle socket);
// Accepts one connection within timeoutMs; kInvalidSocket on time-out or error.
SocketHandle SocketAccept(SocketHandle listener, std::uint32_t timeoutMs);

// The address of the local end of a connected socket as numeric text ("192.0.2.1",
// "2001:db8::1"), *ipv6 telling which family; false on failure.
bool SocketLocalAddress(SocketHandle socket, std::string* text, bool* ipv6);

// The local host name (gethostname into a 260-byte buffer); empty on failure.
std::string LocalHostName();

// The machine's fully qualified name as the system knows it: the resolver's canonical name of
// the host name (POSIX), the computer's DNS name with its domain (Windows). It may be a bare
// host name all the same where no domain is configured; empty when nothing is known.
std::string LocalFullyQualifiedName();

}  // namespace platform

namespace platform {

// The one message the mail sender ever shows when its socket library cannot start: a
// message box with an OK button on Windows (caption: the program's name), standard error
// elsewhere.
void ShowSocketStartupMessage(const std::string& caption, const std::string& text);

}  // namespace platform
