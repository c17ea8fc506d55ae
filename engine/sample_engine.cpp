// Kel.dll, the sample engine: the smallest engine that keeps every promise
// the launcher relies on. Copy it and put the virtual machine where the
// package is shown.
//
//   KelMainW            the entry routine; its result is the launcher's exit code
//   the window          of the target name's class, so that a second start of
//                       the launcher finds it and hands over (target_name.h)
//   message 1038        a second start asks for the window: it comes forward
//   the relay listener  one-line commands on a loopback port, published as
//                       "ServerPort"; "quit N" ends the engine with exit code N
//   the splash          taken down once the engine's own window is up
//
// It includes nothing of the launcher but the contract header, where an
// installed release puts it: <kel/kel.h> under the release's include folder.
#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include <kel/kel.h>

#include "target_name.h"

namespace {

constexpr UINT kSocketMessage = WM_APP + 1;
constexpr int kPackageControl = 100;

const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

HMODULE g_self = nullptr;
int g_exitCode = 0;
SOCKET g_listener = INVALID_SOCKET;
DWORD g_port = 0;

// ---------------------------------------------------------------- the relay listener

// Publishes the port where a relaying launcher reads it; 0 withdraws it.
void PublishPort(DWORD port) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, W(kel::kEngineKey), 0, nullptr, 0, KEY_SET_VALUE | KEY_QUERY_VALUE,
                          nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    // Withdraw only our own port: another engine may have published its own since.
    DWORD current = 0;
    DWORD size = sizeof current;
    bool ours = ::RegQueryValueExW(key, W(kel::kServerPortValue), nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(&current), &size) == ERROR_SUCCESS &&
                current == g_port;
    if (port != 0 || ours) {
        ::RegSetValueExW(key, W(kel::kServerPortValue), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port),
                         sizeof port);
    }
    ::RegCloseKey(key);
}

// Listens on a free loopback port; socket events come to window as kSocketMessage.
void StartListener(HWND window) {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
    g_listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (g_listener == INVALID_SOCKET ||
        ::bind(g_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(g_listener, SOMAXCONN) != 0 ||
        ::getsockname(g_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::WSAAsyncSelect(g_listener, window, kSocketMessage, FD_ACCEPT) != 0) {
        return;
    }
    g_port = ::ntohs(address.sin_port);
    PublishPort(g_port);
}

void StopListener() {
    if (g_port != 0) PublishPort(0);
    if (g_listener != INVALID_SOCKET) ::closesocket(g_listener);
    ::WSACleanup();
}

// One relayed command: its bytes up to the newline. "quit N" ends the engine.
void Command(HWND window, const char* line) {
    if (std::strncmp(line, "quit", 4) == 0 && (line[4] == 0 || line[4] == ' ')) {
        if (line[4] == ' ') g_exitCode = std::atoi(line + 5);
        ::DestroyWindow(window);
        return;
    }
    // Anything else is the application's business; the sample shows it.
    HWND edit = ::GetDlgItem(window, kPackageControl);
    ::SendMessageA(edit, EM_SETSEL, 0x7FFFFFFF, 0x7FFFFFFF);
    ::SendMessageA(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>("\r\n> "));
    ::SendMessageA(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line));
}

// A relaying launcher connects, sends one line and closes; short lines fit one read.
void OnSocket(HWND window, WPARAM socket, LPARAM event) {
    if (WSAGETSELECTEVENT(event) == FD_ACCEPT) {
        SOCKET client = ::accept(g_listener, nullptr, nullptr);
        if (client != INVALID_SOCKET) ::WSAAsyncSelect(client, window, kSocketMessage, FD_READ | FD_CLOSE);
        return;
    }
    SOCKET client = static_cast<SOCKET>(socket);
    char line[1024];
    int got = ::recv(client, line, sizeof line - 1, 0);
    if (got > 0) {
        line[got] = 0;
        if (char* newline = std::strchr(line, '\n')) *newline = 0;
        Command(window, line);
    }
    if (got <= 0 || WSAGETSELECTEVENT(event) == FD_CLOSE) ::closesocket(client);
}

// ---------------------------------------------------------------- the splash

// The launcher leaves its splash up for the engine. Ending the splash thread's
// message loop with WM_QUIT makes the thread destroy the window; another
// application's splash is not ours to end.
void DismissSplash() {
    HWND splash = nullptr;
    while ((splash = ::FindWindowExW(nullptr, splash, W(kel::kSplashClassName), nullptr)) != nullptr) {
        DWORD process = 0;
        DWORD thread = ::GetWindowThreadProcessId(splash, &process);
        if (process == ::GetCurrentProcessId()) ::PostThreadMessageW(thread, WM_QUIT, 0, 0);
    }
}

// ---------------------------------------------------------------- the window

// The application package the launcher carries, as text for the window.
wchar_t* PackageText(HMODULE launcher) {
    HRSRC resource = ::FindResourceW(launcher, W(kel::kApplicationResourceName), W(kel::kApplicationResourceType));
    HGLOBAL loaded = resource != nullptr ? ::LoadResource(launcher, resource) : nullptr;
    if (loaded == nullptr) return nullptr;
    auto* bytes = static_cast<const char*>(::LockResource(loaded));
    int size = static_cast<int>(::SizeofResource(launcher, resource));
    int units = ::MultiByteToWideChar(CP_UTF8, 0, bytes, size, nullptr, 0);
    auto* text = static_cast<wchar_t*>(std::calloc(static_cast<size_t>(units) + 1, sizeof(wchar_t)));
    ::MultiByteToWideChar(CP_UTF8, 0, bytes, size, text, units);
    return text;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            ::MoveWindow(::GetDlgItem(window, kPackageControl), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
            return 0;
        case kel::kActivationMessage:
            // A second start of the same application: come forward instead.
            if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
            ::SetForegroundWindow(window);
            return 0;
        case kSocketMessage:
            OnSocket(window, wParam, lParam);
            return 0;
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_self = self;
    return TRUE;
}

// The entry routine of the contract (kel::KelMainWProc), exported undecorated.
extern "C" __declspec(dllexport) int KelMainW(HINSTANCE instance, HINSTANCE, const wchar_t* commandLine, int show,
                                              HMODULE launcher, HMODULE) {
    wchar_t className[256];
    sample::TargetName(reinterpret_cast<const char16_t*>(commandLine != nullptr ? commandLine : L""),
                       reinterpret_cast<char16_t*>(className), 256);

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = g_self;
    windowClass.hIcon = ::LoadIconW(launcher, MAKEINTRESOURCEW(kel::kIconGroupId));
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = className;
    if (::RegisterClassW(&windowClass) == 0) return 1;
    HWND window = ::CreateWindowExW(0, className, L"Kel sample engine", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, g_self, nullptr);
    if (window == nullptr) return 1;

    wchar_t* package = PackageText(launcher);
    HWND edit = ::CreateWindowExW(0, L"EDIT", package != nullptr ? package : L"(no application package)",
                                  WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY, 0, 0, 0, 0,
                                  window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kPackageControl)), instance,
                                  nullptr);
    ::SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    std::free(package);

    StartListener(window);
    ::ShowWindow(window, show);
    ::UpdateWindow(window);
    DismissSplash();

    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    StopListener();
    ::UnregisterClassW(className, g_self);
    return g_exitCode;
}
