// The listener's side of the loopback sockets, as an engine uses it
// (engine_side.h): real POSIX sockets behind the winsock names, on the
// simulation's sockets, as the platform layer's connecting side is. A
// listening socket's closesocket is the platform layer's, which ends an
// accept blocked on it.
#include "engine_side.h"
#include "world.h"

// Winsock's value, taken before the POSIX headers make a macro of its name.
namespace winsock {
constexpr int kInet = platform::AF_INET;
}  // namespace winsock

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <string>

namespace celoader::engine {
namespace {

using platform::SOCKADDR_IN;
using platform::SOCKET;
using platform::SOCKET_ERROR;
using sim::Args;
using sim::internal::Enter;
using sim::internal::SocketName;
using sim::internal::SocketOpen;

std::string Where(const SOCKADDR_IN& address) {
    char dotted[INET_ADDRSTRLEN] = "?";
    in_addr a{};
    a.s_addr = address.sin_addr;
    ::inet_ntop(AF_INET, &a, dotted, sizeof dotted);
    return std::string(dotted) + ":" + std::to_string(ntohs(address.sin_port));
}

}  // namespace

// The device's winsock pages for the listener's side:
// bind, listen, accept, getsockname, recv https://learn.microsoft.com/en-us/previous-versions/windows/embedded/ee493304(v=winembedded.60)

// Loopback only: 127.0.0.1, or any address, which here is loopback; another
// address is none of this machine's (WSAEADDRNOTAVAIL). A short address or
// another family fails (WSAEFAULT, WSAEAFNOSUPPORT).
int bind(SOCKET s, const SOCKADDR_IN* address, int length) {
    if (Enter("bind", Args().Name(SocketName(s)).Name(address != nullptr ? Where(*address) : "null").Number(length))) {
        return SOCKET_ERROR;
    }
    if (!SocketOpen(s) || address == nullptr || length < static_cast<int>(sizeof(SOCKADDR_IN)) ||
        address->sin_family != winsock::kInet) {
        return SOCKET_ERROR;
    }
    if (address->sin_addr != htonl(INADDR_LOOPBACK) && address->sin_addr != htonl(INADDR_ANY)) return SOCKET_ERROR;
    sockaddr_in posix{};
    posix.sin_family = AF_INET;
    posix.sin_port = address->sin_port;
    posix.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::bind(static_cast<int>(s), reinterpret_cast<sockaddr*>(&posix), sizeof posix) == 0 ? 0 : SOCKET_ERROR;
}

// A socket that is not bound fails (WSAEINVAL), as winsock has it.
int listen(SOCKET s, int backlog) {
    if (Enter("listen", Args().Name(SocketName(s)).Number(backlog))) return SOCKET_ERROR;
    if (!SocketOpen(s)) return SOCKET_ERROR;
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    if (::getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&bound), &size) != 0 || bound.sin_port == 0) {
        return SOCKET_ERROR;
    }
    // SOMAXCONN is 5 on the device; a larger backlog is taken as the most it allows.
    if (::listen(static_cast<int>(s), std::min(std::max(backlog, 1), 5)) != 0) return SOCKET_ERROR;
    return 0;
}

// Blocks, without the world's lock, until a connection comes or the socket
// is closed (INVALID_SOCKET). The peer's address, when asked for, needs room
// for an IPv4 one (WSAEFAULT).
SOCKET accept(SOCKET s, SOCKADDR_IN* address, int* length) {
    if (Enter("accept", Args().Name(SocketName(s)).Pointer(address).Pointer(length))) return platform::INVALID_SOCKET;
    if (!SocketOpen(s)) return platform::INVALID_SOCKET;
    if (address != nullptr && (length == nullptr || *length < static_cast<int>(sizeof(SOCKADDR_IN)))) {
        return platform::INVALID_SOCKET;
    }
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    int fd = ::accept(static_cast<int>(s), reinterpret_cast<sockaddr*>(&peer), &size);
    if (fd < 0) return platform::INVALID_SOCKET;
    if (address != nullptr) {
        SOCKADDR_IN windows{};
        windows.sin_family = winsock::kInet;
        windows.sin_port = peer.sin_port;
        windows.sin_addr = peer.sin_addr.s_addr;
        *address = windows;
        *length = sizeof windows;
    }
    sim::internal::AdoptSocket(static_cast<SOCKET>(fd));
    return static_cast<SOCKET>(fd);
}

int getsockname(SOCKET s, SOCKADDR_IN* address, int* length) {
    if (Enter("getsockname", Args().Name(SocketName(s)).Pointer(address).Pointer(length))) return SOCKET_ERROR;
    if (!SocketOpen(s) || address == nullptr || length == nullptr || *length < static_cast<int>(sizeof(SOCKADDR_IN))) {
        return SOCKET_ERROR;
    }
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    // A socket not bound yet has no name (WSAEINVAL).
    if (::getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&bound), &size) != 0 || bound.sin_port == 0) {
        return SOCKET_ERROR;
    }
    SOCKADDR_IN windows{};
    windows.sin_family = winsock::kInet;
    windows.sin_port = bound.sin_port;
    windows.sin_addr = bound.sin_addr.s_addr;
    *address = windows;
    *length = sizeof windows;
    return 0;
}

// Blocks without the world's lock; 0 once the peer closed. MSG_OOB (1) and
// MSG_PEEK (2) are winsock's flags for recv; another fails (WSAEOPNOTSUPP).
int recv(SOCKET s, char* data, int length, int flags) {
    if (Enter("recv", Args().Name(SocketName(s)).Pointer(data).Number(length).Flags(static_cast<uint32_t>(flags)))) {
        return SOCKET_ERROR;
    }
    if (!SocketOpen(s) || length < 0 || (flags & ~0x3) != 0 || (data == nullptr && length > 0)) return SOCKET_ERROR;
    ssize_t got = ::recv(static_cast<int>(s), data, static_cast<size_t>(length), flags & 0x3);
    return got < 0 ? SOCKET_ERROR : static_cast<int>(got);
}

}  // namespace celoader::engine
