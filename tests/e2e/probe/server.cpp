#include "server.h"

#include <cstdlib>
#include <cstring>

#include "contract/kel.h"
#include "record.h"

namespace engine {
namespace {

const wchar_t* const kEngineKey = reinterpret_cast<const wchar_t*>(kel::kEngineKey);
const wchar_t* const kPortValue = reinterpret_cast<const wchar_t*>(kel::kServerPortValue);

// One accepted connection and the part of a line received so far.
struct Connection {
    SOCKET socket;
    char line[1024];
    size_t length;
};

constexpr int kMaxConnections = 8;

SOCKET g_listener = INVALID_SOCKET;
Connection g_connections[kMaxConnections];
unsigned g_port = 0;
bool g_started = false;
int g_defaultExit = 0;
HWND g_window = nullptr;
UINT g_message = 0;

Connection* Find(SOCKET s) {
    for (Connection& c : g_connections) {
        if (c.socket == s) return &c;
    }
    return nullptr;
}

void Close(Connection* c) {
    ::closesocket(c->socket);
    c->socket = INVALID_SOCKET;
    c->length = 0;
}

void PublishPort(DWORD port) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kEngineKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        Record("server_port_published", "0");
        return;
    }
    LONG status = ::RegSetValueExW(key, kPortValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port), sizeof port);
    ::RegCloseKey(key);
    RecordNumber("server_port_published", status == ERROR_SUCCESS ? 1 : 0);
}

// Leaves the value alone when another engine has published its own port since.
void WithdrawPort() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEngineKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return;
    }
    DWORD value = 0, size = sizeof value, type = 0;
    if (::RegQueryValueExW(key, kPortValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && value == g_port) {
        DWORD zero = 0;
        ::RegSetValueExW(key, kPortValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof zero);
    }
    ::RegCloseKey(key);
}

// Records one complete line and says whether it asks the engine to end.
bool HandleLine(const char* line, size_t length, int* exitCode) {
    RecordBytesHex("relay", line, length);
    char text[1024];
    std::memcpy(text, line, length);
    text[length] = 0;
    if (std::strncmp(text, "quit", 4) == 0 && (text[4] == 0 || text[4] == ' ')) {
        *exitCode = text[4] == ' ' ? std::atoi(text + 5) : g_defaultExit;
        RecordNumber("quit_requested", *exitCode);
        return true;
    }
    return false;
}

bool Receive(Connection* c, int* exitCode) {
    bool quit = false;
    for (;;) {
        char chunk[512];
        int got = ::recv(c->socket, chunk, sizeof chunk, 0);
        if (got <= 0) break;
        for (int i = 0; i < got; ++i) {
            if (chunk[i] == '\n') {
                quit = HandleLine(c->line, c->length, exitCode) || quit;
                c->length = 0;
            } else if (c->length < sizeof c->line - 1) {
                c->line[c->length++] = chunk[i];
            }
        }
    }
    return quit;
}

}  // namespace

unsigned StartServer(HWND window, UINT message) {
    g_defaultExit = static_cast<int>(EnvNumber("KEL_ENGINE_EXIT", 0));
    g_window = window;
    g_message = message;
    for (Connection& c : g_connections) c.socket = INVALID_SOCKET;
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;
    g_started = true;

    g_listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (g_listener == INVALID_SOCKET) return 0;
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    address.sin_port = 0;   // any free port: several engines may run side by side
    int length = sizeof address;
    if (::bind(g_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(g_listener, SOMAXCONN) != 0 ||
        ::getsockname(g_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::WSAAsyncSelect(g_listener, window, message, FD_ACCEPT) != 0) {
        ::closesocket(g_listener);
        g_listener = INVALID_SOCKET;
        return 0;
    }
    g_port = ::ntohs(address.sin_port);
    RecordNumber("server_port", g_port);
    PublishPort(g_port);
    return g_port;
}

bool OnServerEvent(WPARAM wParam, LPARAM lParam, int* exitCode) {
    SOCKET s = static_cast<SOCKET>(wParam);
    switch (WSAGETSELECTEVENT(lParam)) {
        case FD_ACCEPT: {
            SOCKET client = ::accept(g_listener, nullptr, nullptr);
            if (client == INVALID_SOCKET) return false;
            Connection* slot = Find(INVALID_SOCKET);
            if (slot == nullptr) {
                ::closesocket(client);
                return false;
            }
            slot->socket = client;
            slot->length = 0;
            // The accepted socket inherits the listener's selection; it wants reads and the close.
            ::WSAAsyncSelect(client, g_window, g_message, FD_READ | FD_CLOSE);
            Record("relay_connection", "accepted");
            return false;
        }
        case FD_READ: {
            Connection* c = Find(s);
            return c != nullptr && Receive(c, exitCode);
        }
        case FD_CLOSE: {
            Connection* c = Find(s);
            if (c == nullptr) return false;
            bool quit = Receive(c, exitCode);
            // Bytes after the last newline are no command; keep them for the record.
            if (c->length > 0) RecordBytesHex("relay_unterminated", c->line, c->length);
            Record("relay_connection", "closed");
            Close(c);
            return quit;
        }
        default:
            return false;
    }
}

void StopServer() {
    for (Connection& c : g_connections) {
        if (c.socket != INVALID_SOCKET) Close(&c);
    }
    if (g_listener != INVALID_SOCKET) {
        ::closesocket(g_listener);
        g_listener = INVALID_SOCKET;
        WithdrawPort();
    }
    if (g_started) ::WSACleanup();
    g_started = false;
}

}  // namespace engine
