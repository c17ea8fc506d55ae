// Part of the simulation (see sim.h): sockets, which are real POSIX
// sockets on loopback behind the winsock names, and a listener thread that
// stands in for a running engine.
//
// The socket layer is counted, and socket refuses to work before it has
// started, as winsock does. The 4-byte linger record is translated to its
// POSIX form. Only IPv4 is here; a socket's type and protocol, send's
// out-of-band and routing flags are the real ones (their values are the
// same on both sides). Other options than linger are taken and have no effect.
#include "world.h"

// Winsock's values, taken before the POSIX headers make macros of their names.
namespace winsock {
constexpr int kSolSocket = platform::SOL_SOCKET;
constexpr int kLinger = platform::SO_LINGER;
constexpr int kInet = platform::AF_INET;
}  // namespace winsock

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

// glibc may make these macros, which would rewrite the backend's own definitions.
#undef htons
#undef inet_addr

namespace sim {
namespace {

using internal::Mutex;

constexpr int kWsaSysNotReady = 10091;   // what WSAStartup answers when the layer cannot start
constexpr int kWsaVerNotSupported = 10092;

struct Sockets {
    int starts = 0;                        // successful WSAStartup calls
    int cleanups = 0;                      // WSACleanup calls
    std::set<platform::SOCKET> open;       // descriptors handed out and not closed
    std::vector<int> reserved;             // bound, never listening: the unused ports
    std::vector<platform::LINGER> lingers;
    int sendLimit = -1;
};

Sockets& State() {
    static Sockets sockets;
    return sockets;
}

// The stand-in engine. It has a lock of its own: its thread never touches
// the world, so a Reset under the world's lock can wait for it.
struct Listener {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> received;
    std::thread thread;
    std::atomic<bool> stop{false};
    int fd = -1;
};

Listener& TheListener() {
    static Listener listener;
    return listener;
}

// Reads one connection to its end, waking now and then to see whether it must stop.
std::string Drain(int connection, const std::atomic<bool>& stop) {
    std::string bytes;
    while (!stop) {
        pollfd ready{connection, POLLIN, 0};
        if (::poll(&ready, 1, 20) <= 0) continue;
        char chunk[4096];
        ssize_t n = ::recv(connection, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        bytes.append(chunk, static_cast<size_t>(n));
    }
    return bytes;
}

void Serve(Listener* listener) {
    while (!listener->stop) {
        pollfd ready{listener->fd, POLLIN, 0};
        if (::poll(&ready, 1, 20) <= 0) continue;
        int connection = ::accept(listener->fd, nullptr, nullptr);
        if (connection < 0) continue;
        std::string bytes = Drain(connection, listener->stop);
        ::close(connection);
        {
            std::lock_guard<std::mutex> lock(listener->mutex);
            listener->received.push_back(bytes);
        }
        listener->changed.notify_all();
    }
}

void StopListener() {
    Listener& listener = TheListener();
    listener.stop = true;
    if (listener.thread.joinable()) listener.thread.join();
    if (listener.fd >= 0) ::close(listener.fd);
    listener.fd = -1;
    listener.stop = false;
    std::lock_guard<std::mutex> lock(listener.mutex);
    listener.received.clear();
}

// A socket bound to 127.0.0.1 on a port the system picks; -1 on failure.
int BindLoopback(platform::WORD* port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

namespace internal {

void ResetSockets() {
    StopListener();
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    for (platform::SOCKET s : State().open) ::close(static_cast<int>(s));
    for (int fd : State().reserved) ::close(fd);
    State() = Sockets();
}

bool SocketOpen(platform::SOCKET s) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return State().open.count(s) != 0;
}

std::string SocketName(platform::SOCKET s) {
    if (s == platform::INVALID_SOCKET) return "invalid";
    return SocketOpen(s) ? "socket" : "bad";
}

void AdoptSocket(platform::SOCKET s) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    State().open.insert(s);
}

}  // namespace internal

platform::WORD Listen() {
    StopListener();
    Listener& listener = TheListener();
    platform::WORD port = 0;
    listener.fd = BindLoopback(&port);
    if (listener.fd < 0 || ::listen(listener.fd, 8) != 0) return 0;
    listener.thread = std::thread(Serve, &listener);
    return port;
}

std::vector<std::string> Received(size_t connections, int timeoutMs) {
    Listener& listener = TheListener();
    std::unique_lock<std::mutex> lock(listener.mutex);
    listener.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return listener.received.size() >= connections; });
    return listener.received;
}

platform::WORD UnusedPort() {
    // Kept bound until the next Reset, so that no one else takes the port;
    // a socket that is bound but not listening refuses connections.
    platform::WORD port = 0;
    int fd = BindLoopback(&port);
    if (fd < 0) return 0;
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    State().reserved.push_back(fd);
    return port;
}

void LimitSend(int bytes) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    State().sendLimit = bytes;
}

int SocketLayerStarts() {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return State().starts;
}

int SocketLayerCleanups() {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return State().cleanups;
}

int OpenSocketCount() {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return static_cast<int>(State().open.size());
}

std::vector<platform::LINGER> LingerSettings() {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return State().lingers;
}

}  // namespace sim

namespace platform {

using sim::internal::Enter;
using sim::internal::Mutex;
using sim::internal::SocketName;

// The device's winsock pages:
// WSAStartup https://learn.microsoft.com/en-us/previous-versions/windows/embedded/ms898731(v=msdn.10)
// socket, setsockopt, connect, send https://learn.microsoft.com/en-us/previous-versions/windows/embedded/ee493304(v=winembedded.60)
// Winsock 2.2 is the newest the device has: a newer request gets it, one
// older than 1.1 fails with WSAVERNOTSUPPORTED.
int WSAStartup(WORD version, WSADATA* data) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("WSAStartup", sim::Args().Flags(version).Pointer(data))) {
        return sim::kWsaSysNotReady;
    }
    int major = version & 0xFF;
    int minor = version >> 8;
    if (major == 0 || (major == 1 && minor == 0)) return sim::kWsaVerNotSupported;
    ++sim::State().starts;
    return 0;
}

int WSACleanup() {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("WSACleanup", sim::Args())) return SOCKET_ERROR;
    ++sim::State().cleanups;
    return 0;
}

// IPv4 only (WSAEAFNOSUPPORT otherwise); the type and protocol are the real socket's.
SOCKET socket(int family, int type, int protocol) {
    {
        std::lock_guard<std::recursive_mutex> lock(Mutex());
        if (Enter("socket", sim::Args().Number(family).Number(type).Number(protocol))) return INVALID_SOCKET;
        // Not started, or shut down again: winsock's WSANOTINITIALISED.
        if (sim::State().starts == sim::State().cleanups) return INVALID_SOCKET;
    }
    if (family != winsock::kInet) return INVALID_SOCKET;
    int fd = ::socket(AF_INET, type, protocol);
    if (fd < 0) return INVALID_SOCKET;
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::State().open.insert(static_cast<SOCKET>(fd));
    return static_cast<SOCKET>(fd);
}

// A linger record too short fails with WSAEFAULT.
int setsockopt(SOCKET s, int level, int option, const char* value, int length) {
    sim::Args args;
    {
        std::lock_guard<std::recursive_mutex> lock(Mutex());
        args.Name(SocketName(s)).Flags(static_cast<uint32_t>(level)).Flags(static_cast<uint32_t>(option));
        args.Pointer(value).Number(length);
    }
    if (Enter("setsockopt", args)) return SOCKET_ERROR;
    if (level != winsock::kSolSocket || option != winsock::kLinger) {
        std::lock_guard<std::recursive_mutex> lock(Mutex());
        return sim::State().open.count(s) != 0 ? 0 : SOCKET_ERROR;
    }
    if (value == nullptr || length < static_cast<int>(sizeof(LINGER))) return SOCKET_ERROR;
    LINGER windows;
    std::memcpy(&windows, value, sizeof windows);
    {
        std::lock_guard<std::recursive_mutex> lock(Mutex());
        sim::State().lingers.push_back(windows);
    }
    // Winsock's record has two 16-bit fields, POSIX's two ints.
    ::linger posix{windows.l_onoff != 0 ? 1 : 0, windows.l_linger};
    return ::setsockopt(static_cast<int>(s), SOL_SOCKET, SO_LINGER, &posix, sizeof posix) == 0 ? 0 : SOCKET_ERROR;
}

// An address shorter than an IPv4 one fails with WSAEFAULT, another family with WSAEAFNOSUPPORT.
int connect(SOCKET s, const SOCKADDR_IN* address, int length) {
    char dotted[INET_ADDRSTRLEN] = "?";
    in_addr a{};
    a.s_addr = address->sin_addr;
    ::inet_ntop(AF_INET, &a, dotted, sizeof dotted);
    std::string where = std::string(dotted) + ":" + std::to_string(ntohs(address->sin_port));
    sim::Args args;
    {
        std::lock_guard<std::recursive_mutex> lock(Mutex());
        args.Name(SocketName(s)).Number(address->sin_family).Name(where).Number(length);
    }
    if (Enter("connect", args)) return SOCKET_ERROR;
    if (length < static_cast<int>(sizeof(SOCKADDR_IN)) || address->sin_family != winsock::kInet) {
        return SOCKET_ERROR;
    }
    sockaddr_in posix{};
    posix.sin_family = AF_INET;
    posix.sin_port = address->sin_port;
    posix.sin_addr.s_addr = address->sin_addr;
    return ::connect(static_cast<int>(s), reinterpret_cast<sockaddr*>(&posix), sizeof posix) == 0 ? 0 : SOCKET_ERROR;
}

// MSG_OOB (1) and MSG_DONTROUTE (4) are winsock's flags for send; another fails with WSAEOPNOTSUPP.
int send(SOCKET s, const char* data, int length, int flags) {
    sim::Args args;
    {
        std::lock_guard<std::recursive_mutex> lock(Mutex());
        args.Name(SocketName(s)).Pointer(data).Number(length).Flags(static_cast<uint32_t>(flags));
    }
    if (Enter("send", args)) return SOCKET_ERROR;
    constexpr int kWinsockFlags = 0x1 | 0x4;
    if ((flags & ~kWinsockFlags) != 0 || length < 0) return SOCKET_ERROR;
    int limit;
    {
        std::lock_guard<std::recursive_mutex> lock(Mutex());
        limit = sim::State().sendLimit;
    }
    size_t count = limit >= 0 && limit < length ? static_cast<size_t>(limit) : static_cast<size_t>(length);
    // A peer that went away must give an error, not end the process with SIGPIPE.
    int posixFlags = MSG_NOSIGNAL | (flags & kWinsockFlags);
    ssize_t sent = ::send(static_cast<int>(s), data, count, posixFlags);
    return sent < 0 ? SOCKET_ERROR : static_cast<int>(sent);
}

int closesocket(SOCKET s) {
    {
        std::lock_guard<std::recursive_mutex> lock(Mutex());
        if (Enter("closesocket", sim::Args().Name(SocketName(s)))) return SOCKET_ERROR;
        auto found = sim::State().open.find(s);
        if (found == sim::State().open.end()) return SOCKET_ERROR;   // WSAENOTSOCK
        sim::State().open.erase(found);
        // Winsock's close ends an accept another thread is blocked in; a
        // POSIX close does not, a shutdown of the listening socket does.
        int listening = 0;
        socklen_t size = sizeof listening;
        ::getsockopt(static_cast<int>(s), SOL_SOCKET, SO_ACCEPTCONN, &listening, &size);
        if (listening != 0) ::shutdown(static_cast<int>(s), SHUT_RDWR);
    }
    // Outside the lock: with a linger setting the close may wait for the peer.
    return ::close(static_cast<int>(s)) == 0 ? 0 : SOCKET_ERROR;
}

uint32_t inet_addr(const char* text) {
    constexpr uint32_t kNone = 0xFFFFFFFFu;   // INADDR_NONE
    if (Enter("inet_addr", sim::Args().Narrow(text))) return kNone;
    in_addr a{};
    return ::inet_pton(AF_INET, text, &a) == 1 ? a.s_addr : kNone;
}

uint16_t htons(uint16_t value) {
    // Network order is high byte first, whatever this machine's order.
    BYTE bytes[2] = {static_cast<BYTE>(value >> 8), static_cast<BYTE>(value & 0xFF)};
    uint16_t network;
    std::memcpy(&network, bytes, 2);
    return network;
}

}  // namespace platform
