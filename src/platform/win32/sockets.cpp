// Sockets on the real platform: winsock 2, bound at the first start of the
// socket layer. Only a start that relays a command needs winsock, so the
// launcher does not import it: every other start is spared loading it.
#include "platform/win32/win32.h"

// After win32.h: <windows.h> is lean and leaves winsock out, and the
// platform's socket constants are declared before winsock's macros exist.
#include <winsock2.h>

namespace platform {

// The platform's records are laid out as winsock's, so they cross unchanged.
static_assert(sizeof(::WSADATA) <= sizeof(platform::WSADATA), "room for winsock's start-up record");
static_assert(__alignof__(::WSADATA) <= __alignof__(platform::WSADATA), "winsock's start-up record is aligned");
static_assert(sizeof(::sockaddr_in) == sizeof(platform::SOCKADDR_IN), "IPv4 address layout");
static_assert(sizeof(::linger) == sizeof(platform::LINGER), "linger record layout");
static_assert(sizeof(::SOCKET) == sizeof(platform::SOCKET), "socket handle size");

namespace {

struct Winsock {
    decltype(&::WSAStartup) startup;
    decltype(&::WSACleanup) cleanup;
    decltype(&::socket) socket;
    decltype(&::setsockopt) setsockopt;
    decltype(&::connect) connect;
    decltype(&::send) send;
    decltype(&::closesocket) closesocket;
    decltype(&::inet_addr) inet_addr;
};

#ifdef UNDER_CE
// The device's Winsock 2 library; it has no ws2_32.dll.
const wchar_t kWinsockLibrary[] = L"ws2.dll";
#else
const wchar_t kWinsockLibrary[] = L"ws2_32.dll";
#endif

template <typename Function>
bool Bind(::HMODULE library, const wchar_t* name, Function* function) {
    *function = reinterpret_cast<Function>(win32::Export(library, name));
    return *function != NULL;
}

// Winsock's entry points, or null when the library or one of them is missing.
// The relay runs on the main thread before the splash thread exists, so the
// first call needs no lock.
const Winsock* Sockets() {
    static Winsock winsock;
    static int state = 0;   // 0 not tried, 1 bound, -1 unavailable
    if (state == 0) {
        ::HMODULE library = ::LoadLibraryW(kWinsockLibrary);
        bool bound = library != NULL && Bind(library, L"WSAStartup", &winsock.startup) &&
                     Bind(library, L"WSACleanup", &winsock.cleanup) && Bind(library, L"socket", &winsock.socket) &&
                     Bind(library, L"setsockopt", &winsock.setsockopt) && Bind(library, L"connect", &winsock.connect) &&
                     Bind(library, L"send", &winsock.send) && Bind(library, L"closesocket", &winsock.closesocket) &&
                     Bind(library, L"inet_addr", &winsock.inet_addr);
        state = bound ? 1 : -1;
    }
    return state == 1 ? &winsock : NULL;
}

}  // namespace

int WSAStartup(WORD version, WSADATA* data) {
    const Winsock* w = Sockets();
    if (w == NULL) return WSASYSNOTREADY;
    return w->startup(version, reinterpret_cast< ::WSADATA*>(data));
}

// The calls below follow a successful start, so winsock is bound by then;
// without it they fail as winsock does before a start.
int WSACleanup() {
    const Winsock* w = Sockets();
    return w != NULL ? w->cleanup() : SOCKET_ERROR;
}

SOCKET socket(int family, int type, int protocol) {
    const Winsock* w = Sockets();
    return w != NULL ? w->socket(family, type, protocol) : INVALID_SOCKET;
}

int setsockopt(SOCKET s, int level, int option, const char* value, int length) {
    const Winsock* w = Sockets();
    return w != NULL ? w->setsockopt(s, level, option, value, length) : SOCKET_ERROR;
}

int connect(SOCKET s, const SOCKADDR_IN* address, int length) {
    const Winsock* w = Sockets();
    return w != NULL ? w->connect(s, reinterpret_cast<const ::sockaddr*>(address), length) : SOCKET_ERROR;
}

int send(SOCKET s, const char* data, int length, int flags) {
    const Winsock* w = Sockets();
    return w != NULL ? w->send(s, data, length, flags) : SOCKET_ERROR;
}

int closesocket(SOCKET s) {
    const Winsock* w = Sockets();
    return w != NULL ? w->closesocket(s) : SOCKET_ERROR;
}

uint32_t inet_addr(const char* text) {
    const Winsock* w = Sockets();
    return w != NULL ? w->inet_addr(text) : INADDR_NONE;
}

// Network byte order is big-endian; every Windows target is little-endian.
uint16_t htons(uint16_t value) { return static_cast<uint16_t>((value >> 8) | (value << 8)); }

}  // namespace platform
