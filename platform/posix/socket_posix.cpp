// POSIX backend of the socket interface: BSD sockets over IPv4. Errors are reported as the
// Windows Sockets numbers that correspond to errno, so the mail sender's failure codes read
// the same on every platform.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/posix/socket_error.h"
#include "platform/socket.h"

namespace platform {

namespace {
thread_local int lastError = 0;
}  // namespace

int ToWsaError(int err) {
    switch (err) {
        case EINTR:
            return 10004;
        case EBADF:
            return 10009;
        case EACCES:
            return 10013;
        case EFAULT:
            return 10014;
        case EINVAL:
            return kWsaInvalidArgument;
        case EMFILE:
            return 10024;
        case EWOULDBLOCK:
            return 10035;
        case EINPROGRESS:
            return 10036;
        case EALREADY:
            return 10037;
        case ENOTSOCK:
            return 10038;
        case EDESTADDRREQ:
            return 10039;
        case EMSGSIZE:
            return 10040;
        case EPROTOTYPE:
            return 10041;
        case ENOPROTOOPT:
            return 10042;
        case EPROTONOSUPPORT:
            return 10043;
        case EOPNOTSUPP:
            return 10045;
        case EAFNOSUPPORT:
            return 10047;
        case EADDRINUSE:
            return 10048;
        case EADDRNOTAVAIL:
            return 10049;
        case ENETDOWN:
            return 10050;
        case ENETUNREACH:
            return kWsaNetUnreachable;
        case ENETRESET:
            return 10052;
        case ECONNABORTED:
            return kWsaConnAborted;
        case ECONNRESET:
            return kWsaConnReset;
        case ENOBUFS:
            return 10055;
        case EISCONN:
            return 10056;
        case ENOTCONN:
            return kWsaNotConnected;
        case EPIPE:
            return kWsaShutdown;  // the connection can no longer be written
        case ETIMEDOUT:
            return kWsaTimedOut;
        case ECONNREFUSED:
            return kWsaConnRefused;
        case EHOSTDOWN:
            return 10064;
        case EHOSTUNREACH:
            return kWsaHostUnreachable;
        default:
            return err;
    }
}

namespace {

bool Fail() {
    lastError = ToWsaError(errno);
    return false;
}

int FdOf(SocketHandle socket) {
    return static_cast<int>(socket);
}

int Wait(SocketHandle socket, short events, std::uint32_t timeoutMs) {
    pollfd entry{FdOf(socket), events, 0};
    // poll takes an int: longer waits are made of several.
    std::uint32_t left = timeoutMs;
    for (;;) {
        int slice = static_cast<int>(left > 0x7FFFFFFFu ? 0x7FFFFFFFu : left);
        int rc = ::poll(&entry, 1, slice);
        if (rc > 0) {
            return 1;
        }
        if (rc < 0) {
            if (errno == EINTR) {
                continue;  // the remaining time is not tracked; a signal restarts the slice
            }
            Fail();
            return -1;
        }
        left -= static_cast<std::uint32_t>(slice);
        if (left == 0) {
            lastError = kWsaTimedOut;
            return 0;
        }
    }
}

}  // namespace

bool SocketStartup() {
    ::signal(SIGPIPE, SIG_IGN);
    return true;
}

void SocketCleanup() {}

SocketHandle SocketCreateTcp() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        Fail();
        return kInvalidSocket;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

bool SocketResolve(const std::string& host, std::uint32_t* address) {
    in_addr parsed{};
    if (!host.empty() && ::inet_pton(AF_INET, host.c_str(), &parsed) == 1) {
        *address = parsed.s_addr;
        return true;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
        lastError = kWsaHostNotFound;
        return false;
    }
    *address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return true;
}

bool SocketBind(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = address;
    local.sin_port = htons(port);
    if (::bind(FdOf(socket), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        return Fail();
    }
    return true;
}

bool SocketConnect(SocketHandle socket, std::uint32_t address, std::uint16_t port,
                   std::uint32_t timeoutMs) {
    int fd = FdOf(socket);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr.s_addr = address;
    remote.sin_port = htons(port);
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        return Fail();
    }
    bool ok = true;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        if (errno != EINPROGRESS) {
            ok = Fail();
        } else {
            int rc = Wait(socket, POLLOUT, timeoutMs);
            if (rc <= 0) {
                ok = false;  // lastError already set
            } else {
                int err = 0;
                socklen_t len = sizeof err;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
                    ok = Fail();
                } else if (err != 0) {
                    lastError = ToWsaError(err);
                    ok = false;
                }
            }
        }
    }
    if (::fcntl(fd, F_SETFL, flags) != 0 && ok) {
        ok = Fail();
    }
    return ok;
}

bool SocketSetSendTimeout(SocketHandle socket, std::uint32_t timeoutMs) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeoutMs / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeoutMs % 1000) * 1000);
    if (::setsockopt(FdOf(socket), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0) {
        return Fail();
    }
    return true;
}

long SocketSend(SocketHandle socket, const void* data, std::size_t length) {
    for (;;) {
        ssize_t n = ::send(FdOf(socket), data, length, MSG_NOSIGNAL);
        if (n >= 0) {
            return static_cast<long>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            lastError = kWsaTimedOut;  // the send time-out ran out with nothing sent
        } else {
            Fail();
        }
        return -1;
    }
}

long SocketReceive(SocketHandle socket, void* buffer, std::size_t size) {
    for (;;) {
        ssize_t n = ::recv(FdOf(socket), buffer, size, 0);
        if (n >= 0) {
            return static_cast<long>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        Fail();
        return -1;
    }
}

int SocketWaitReadable(SocketHandle socket, std::uint32_t timeoutMs) {
    return Wait(socket, POLLIN, timeoutMs);
}

int SocketWaitWritable(SocketHandle socket, std::uint32_t timeoutMs) {
    return Wait(socket, POLLOUT, timeoutMs);
}

bool SocketClose(SocketHandle socket) {
    if (socket == kInvalidSocket) {
        return true;
    }
    if (::close(FdOf(socket)) != 0) {
        return Fail();
    }
    return true;
}

int SocketLastError() {
    return lastError;
}

void SocketSetLastError(int wsaError) {
    lastError = wsaError;
}

SocketHandle SocketListenLoopback(std::uint16_t port) {
    SocketHandle socket = SocketCreateTcp();
    if (socket == kInvalidSocket) {
        return kInvalidSocket;
    }
    int on = 1;
    ::setsockopt(FdOf(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (!SocketBind(socket, htonl(INADDR_LOOPBACK), port) || ::listen(FdOf(socket), 8) != 0) {
        int saved = errno;
        ::close(FdOf(socket));
        lastError = ToWsaError(saved);
        return kInvalidSocket;
    }
    return socket;
}

std::uint16_t SocketLocalPort(SocketHandle socket) {
    sockaddr_in local{};
    socklen_t len = sizeof local;
    if (::getsockname(FdOf(socket), reinterpret_cast<sockaddr*>(&local), &len) != 0) {
        Fail();
        return 0;
    }
    return ntohs(local.sin_port);
}

SocketHandle SocketAccept(SocketHandle listener, std::uint32_t timeoutMs) {
    if (Wait(listener, POLLIN, timeoutMs) <= 0) {
        return kInvalidSocket;
    }
    int fd = ::accept(FdOf(listener), nullptr, nullptr);
    if (fd < 0) {
        Fail();
        return kInvalidSocket;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

bool SocketLocalAddress(SocketHandle socket, std::string* text, bool* ipv6) {
    sockaddr_storage local{};
    socklen_t len = sizeof local;
    if (::getsockname(FdOf(socket), reinterpret_cast<sockaddr*>(&local), &len) != 0) {
        return Fail();
    }
    char buffer[INET6_ADDRSTRLEN] = {};
    const void* address = nullptr;
    if (local.ss_family == AF_INET) {
        address = &reinterpret_cast<const sockaddr_in*>(&local)->sin_addr;
    } else if (local.ss_family == AF_INET6) {
        address = &reinterpret_cast<const sockaddr_in6*>(&local)->sin6_addr;
    }
    if (address == nullptr ||
        ::inet_ntop(local.ss_family, address, buffer, sizeof buffer) == nullptr) {
        lastError = kWsaInvalidArgument;
        return false;
    }
    *text = buffer;
    *ipv6 = local.ss_family == AF_INET6;
    return true;
}

std::string LocalHostName() {
    char name[260] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        Fail();
        return {};
    }
    return name;
}

std::string LocalFullyQualifiedName() {
    const std::string host = LocalHostName();
    if (host.empty()) {
        return {};
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return host;  // the resolver does not know it: the name is all there is
    }
    const std::string canonical = found->ai_canonname != nullptr ? found->ai_canonname : host;
    ::freeaddrinfo(found);
    return canonical;
}

}  // namespace platform

namespace platform {

void ShowSocketStartupMessage(const std::string& caption, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

}  // namespace platform
