// Windows backend of the socket interface: Windows Sockets 2 used as version 1.1 would be
// (socket, connect, send, recv, select, closesocket, gethostbyname, inet_addr). Errors are
// the WSAGetLastError numbers themselves.
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "platform/socket.h"

namespace platform {
namespace {

SOCKET S(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

// select with the milliseconds split into seconds and microseconds.
int Wait(SocketHandle socket, bool forWrite, std::uint32_t timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(S(socket), &set);
    timeval tv;
    tv.tv_sec = static_cast<long>(timeoutMs / 1000);
    tv.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
    int rc = forWrite ? ::select(0, nullptr, &set, nullptr, &tv)
                      : ::select(0, &set, nullptr, nullptr, &tv);
    if (rc == SOCKET_ERROR) {
        return -1;
    }
    if (rc == 0) {
        ::WSASetLastError(WSAETIMEDOUT);
        return 0;
    }
    return 1;
}

}  // namespace

bool SocketStartup() {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

void SocketCleanup() {
    ::WSACleanup();
}

SocketHandle SocketCreateTcp() {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        return kInvalidSocket;
    }
    return static_cast<SocketHandle>(s);
}

bool SocketResolve(const std::string& host, std::uint32_t* address) {
    unsigned long parsed = ::inet_addr(host.c_str());
    if (parsed != INADDR_NONE) {
        *address = parsed;
        return true;
    }
    hostent* entry = ::gethostbyname(host.c_str());
    if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list || !entry->h_addr_list[0]) {
        if (::WSAGetLastError() == 0) {
            ::WSASetLastError(WSAHOST_NOT_FOUND);
        }
        return false;
    }
    in_addr first;
    std::memcpy(&first, entry->h_addr_list[0], sizeof first);
    *address = first.s_addr;
    return true;
}

bool SocketBind(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = address;
    local.sin_port = ::htons(port);
    return ::bind(S(socket), reinterpret_cast<sockaddr*>(&local), sizeof local) != SOCKET_ERROR;
}

bool SocketConnect(SocketHandle socket, std::uint32_t address, std::uint16_t port,
                   std::uint32_t timeoutMs) {
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr.s_addr = address;
    remote.sin_port = ::htons(port);
    u_long nonBlocking = 1;
    if (::ioctlsocket(S(socket), FIONBIO, &nonBlocking) == SOCKET_ERROR) {
        return false;
    }
    bool ok = true;
    int saved = 0;
    if (::connect(S(socket), reinterpret_cast<sockaddr*>(&remote), sizeof remote) == SOCKET_ERROR) {
        if (::WSAGetLastError() != WSAEWOULDBLOCK) {
            ok = false;
            saved = ::WSAGetLastError();
        } else {
            // A failed connect shows in the exception set.
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(S(socket), &writable);
            FD_SET(S(socket), &failed);
            timeval tv;
            tv.tv_sec = static_cast<long>(timeoutMs / 1000);
            tv.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
            int rc = ::select(0, nullptr, &writable, &failed, &tv);
            if (rc == SOCKET_ERROR) {
                ok = false;
                saved = ::WSAGetLastError();
            } else if (rc == 0) {
                ok = false;
                saved = WSAETIMEDOUT;
            } else if (FD_ISSET(S(socket), &failed)) {
                int err = 0;
                int len = sizeof err;
                ::getsockopt(S(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len);
                ok = false;
                saved = err != 0 ? err : WSAECONNREFUSED;
            }
        }
    }
    u_long blocking = 0;
    if (::ioctlsocket(S(socket), FIONBIO, &blocking) == SOCKET_ERROR && ok) {
        return false;
    }
    if (!ok) {
        ::WSASetLastError(saved);
    }
    return ok;
}

bool SocketSetSendTimeout(SocketHandle socket, std::uint32_t timeoutMs) {
    DWORD value = timeoutMs;
    return ::setsockopt(S(socket), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&value),
                        sizeof value) != SOCKET_ERROR;
}

long SocketSend(SocketHandle socket, const void* data, std::size_t length) {
    int chunk = length > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(length);
    int n = ::send(S(socket), static_cast<const char*>(data), chunk, 0);
    return n == SOCKET_ERROR ? -1 : static_cast<long>(n);
}

long SocketReceive(SocketHandle socket, void* buffer, std::size_t size) {
    int chunk = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    int n = ::recv(S(socket), static_cast<char*>(buffer), chunk, 0);
    return n == SOCKET_ERROR ? -1 : static_cast<long>(n);
}

int SocketWaitReadable(SocketHandle socket, std::uint32_t timeoutMs) {
    return Wait(socket, false, timeoutMs);
}

int SocketWaitWritable(SocketHandle socket, std::uint32_t timeoutMs) {
    return Wait(socket, true, timeoutMs);
}

bool SocketClose(SocketHandle socket) {
    if (socket == kInvalidSocket) {
        return true;
    }
    return ::closesocket(S(socket)) != SOCKET_ERROR;
}

int SocketLastError() {
    return ::WSAGetLastError();
}

void SocketSetLastError(int wsaError) {
    ::WSASetLastError(wsaError);
}

SocketHandle SocketListenLoopback(std::uint16_t port) {
    SocketHandle socket = SocketCreateTcp();
    if (socket == kInvalidSocket) {
        return kInvalidSocket;
    }
    if (!SocketBind(socket, ::htonl(INADDR_LOOPBACK), port) ||
        ::listen(S(socket), 8) == SOCKET_ERROR) {
        int saved = ::WSAGetLastError();
        ::closesocket(S(socket));
        ::WSASetLastError(saved);
        return kInvalidSocket;
    }
    return socket;
}

std::uint16_t SocketLocalPort(SocketHandle socket) {
    sockaddr_in local{};
    int len = sizeof local;
    if (::getsockname(S(socket), reinterpret_cast<sockaddr*>(&local), &len) == SOCKET_ERROR) {
        return 0;
    }
    return ::ntohs(local.sin_port);
}

SocketHandle SocketAccept(SocketHandle listener, std::uint32_t timeoutMs) {
    if (Wait(listener, false, timeoutMs) <= 0) {
        return kInvalidSocket;
    }
    SOCKET s = ::accept(S(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

bool SocketLocalAddress(SocketHandle socket, std::string* text, bool* ipv6) {
    sockaddr_storage local{};
    int len = sizeof local;
    if (::getsockname(S(socket), reinterpret_cast<sockaddr*>(&local), &len) == SOCKET_ERROR) {
        return false;
    }
    char buffer[INET6_ADDRSTRLEN] = {};
    const void* address = nullptr;
    if (local.ss_family == AF_INET) {
        address = &reinterpret_cast<const sockaddr_in*>(&local)->sin_addr;
    } else if (local.ss_family == AF_INET6) {
        address = &reinterpret_cast<const sockaddr_in6*>(&local)->sin6_addr;
    }
    if (address == nullptr || ::inet_ntop(local.ss_family, const_cast<void*>(address), buffer,
                                          sizeof buffer) == nullptr) {
        ::WSASetLastError(WSAEINVAL);
        return false;
    }
    *text = buffer;
    *ipv6 = local.ss_family == AF_INET6;
    return true;
}

std::string LocalHostName() {
    char name[260] = {};
    if (::gethostname(name, sizeof name - 1) == SOCKET_ERROR) {
        return {};
    }
    return name;
}

std::string LocalFullyQualifiedName() {
    char name[256] = {};
    DWORD size = sizeof name;
    if (!::GetComputerNameExA(ComputerNameDnsFullyQualified, name, &size)) {
        return LocalHostName();
    }
    return std::string(name, size);
}

}  // namespace platform

namespace platform {

void ShowSocketStartupMessage(const std::string& caption, const std::string& text) {
    ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

}  // namespace platform
