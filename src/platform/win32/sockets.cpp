// Sockets on the real platform: winsock 2.
#include "platform/win32/win32.h"

// After win32.h: <windows.h> is lean and leaves winsock out, and the
// platform's socket constants are declared before winsock's macros exist.
#include <winsock2.h>

namespace platform {

// The platform's records are laid out as winsock's, so they cross unchanged.
static_assert(sizeof(::WSADATA) <= sizeof(platform::WSADATA), "room for winsock's start-up record");
static_assert(alignof(::WSADATA) <= alignof(platform::WSADATA), "winsock's start-up record is aligned");
static_assert(sizeof(::sockaddr_in) == sizeof(platform::SOCKADDR_IN), "IPv4 address layout");
static_assert(sizeof(::linger) == sizeof(platform::LINGER), "linger record layout");
static_assert(sizeof(::SOCKET) == sizeof(platform::SOCKET), "socket handle size");

int WSAStartup(WORD version, WSADATA* data) { return ::WSAStartup(version, reinterpret_cast<::WSADATA*>(data)); }

int WSACleanup() { return ::WSACleanup(); }

SOCKET socket(int family, int type, int protocol) { return ::socket(family, type, protocol); }

int setsockopt(SOCKET s, int level, int option, const char* value, int length) {
    return ::setsockopt(s, level, option, value, length);
}

int connect(SOCKET s, const SOCKADDR_IN* address, int length) {
    return ::connect(s, reinterpret_cast<const ::sockaddr*>(address), length);
}

int send(SOCKET s, const char* data, int length, int flags) { return ::send(s, data, length, flags); }

int closesocket(SOCKET s) { return ::closesocket(s); }

uint32_t inet_addr(const char* text) { return ::inet_addr(text); }

uint16_t htons(uint16_t value) { return ::htons(value); }

}  // namespace platform
