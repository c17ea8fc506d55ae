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
// The same source builds for desktop Windows and for the device (Windows CE,
// whose compiler is GCC 4.4: no lambdas, nullptr or constexpr); the few
// places where the device differs say what it has instead.
#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include <kel/kel.h>

#include "target_name.h"

namespace {

const UINT kCommandMessage = WM_APP + 1;   // lParam: a relayed line, malloc'ed
const int kPackageControl = 100;

HMODULE g_self = NULL;
int g_exitCode = 0;
SOCKET g_listener = INVALID_SOCKET;
HANDLE g_listenerThread = NULL;
DWORD g_port = 0;

// ---------------------------------------------------------------- the relay listener

// Publishes the port where a relaying launcher reads it; 0 withdraws it.
void PublishPort(DWORD port) {
    HKEY key = NULL;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, KEL_WIDE(KEL_ENGINE_KEY), 0, NULL, 0, KEY_SET_VALUE | KEY_QUERY_VALUE,
                          NULL, &key, NULL) != ERROR_SUCCESS) {
        return;
    }
    // Withdraw only our own port: another engine may have published its own since.
    DWORD current = 0;
    DWORD size = sizeof current;
    bool ours = ::RegQueryValueExW(key, KEL_WIDE(KEL_SERVER_PORT_VALUE), NULL, NULL,
                                   reinterpret_cast<BYTE*>(&current), &size) == ERROR_SUCCESS &&
                current == g_port;
    if (port != 0 || ours) {
        ::RegSetValueExW(key, KEL_WIDE(KEL_SERVER_PORT_VALUE), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port),
                         sizeof port);
    }
    ::RegCloseKey(key);
}

// One connection's line: its bytes up to the newline or the close, at most
// 1023 of them; malloc'ed and NUL-terminated, or null when nothing came.
char* ReadLine(SOCKET client) {
    const int kRoom = 1024;
    char* line = static_cast<char*>(std::malloc(kRoom));
    if (line == NULL) return NULL;
    int length = 0;
    while (length < kRoom - 1) {
        int got = ::recv(client, line + length, kRoom - 1 - length, 0);
        if (got <= 0) break;
        length += got;
        if (std::memchr(line, '\n', static_cast<size_t>(length)) != NULL) break;
    }
    line[length] = 0;
    if (char* newline = std::strchr(line, '\n')) *newline = 0;
    if (length == 0) {
        std::free(line);
        return NULL;
    }
    return line;
}

// A relaying launcher connects, sends one line and closes. Connections are
// taken on a thread of their own with blocking calls, which the device's
// winsock has as the desktop's does (it has no WSAAsyncSelect); each line
// goes to the window, which carries it out on its own thread.
DWORD WINAPI ListenerThread(LPVOID window) {
    for (;;) {
        SOCKET client = ::accept(g_listener, NULL, NULL);
        if (client == INVALID_SOCKET) return 0;   // the listener was closed: the engine is ending
        char* line = ReadLine(client);
        ::closesocket(client);
        if (line != NULL && !::PostMessageW(static_cast<HWND>(window), kCommandMessage, 0,
                                            reinterpret_cast<LPARAM>(line))) {
            std::free(line);
        }
    }
}

// Listens on a free loopback port and publishes it.
void StartListener(HWND window) {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
    g_listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (g_listener == INVALID_SOCKET ||
        ::bind(g_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(g_listener, SOMAXCONN) != 0 ||
        ::getsockname(g_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    g_listenerThread = ::CreateThread(NULL, 0, ListenerThread, window, 0, NULL);
    if (g_listenerThread == NULL) return;
    g_port = ::ntohs(address.sin_port);
    PublishPort(g_port);
}

void StopListener() {
    if (g_port != 0) PublishPort(0);
    // Closing the listener ends the thread's accept, and with it the thread.
    if (g_listener != INVALID_SOCKET) ::closesocket(g_listener);
    if (g_listenerThread != NULL) {
        ::WaitForSingleObject(g_listenerThread, 5000);
        ::CloseHandle(g_listenerThread);
    }
    ::WSACleanup();
}

// Appends text to the package control.
void Show(HWND window, const wchar_t* text) {
    HWND edit = ::GetDlgItem(window, kPackageControl);
    ::SendMessageW(edit, EM_SETSEL, 0x7FFFFFFF, 0x7FFFFFFF);
    ::SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
}

// One relayed command: its bytes up to the newline. "quit N" ends the engine.
void Command(HWND window, const char* line) {
    if (std::strncmp(line, "quit", 4) == 0 && (line[4] == 0 || line[4] == ' ')) {
        if (line[4] == ' ') g_exitCode = std::atoi(line + 5);
        ::DestroyWindow(window);
        return;
    }
    // Anything else is the application's business; the sample shows it.
    wchar_t text[1024];
    int units = ::MultiByteToWideChar(CP_ACP, 0, line, -1, text, 1024);
    if (units == 0) text[0] = 0;
    Show(window, L"\r\n> ");
    Show(window, text);
}

// ---------------------------------------------------------------- the splash

// Posts WM_QUIT to the thread of every splash window of this process.
BOOL CALLBACK DismissIfOurSplash(HWND window, LPARAM) {
    wchar_t name[16];
    if (::GetClassNameW(window, name, 16) == 0 || ::lstrcmpW(name, KEL_WIDE(KEL_SPLASH_CLASS_NAME)) != 0) {
        return TRUE;
    }
    DWORD process = 0;
    DWORD thread = ::GetWindowThreadProcessId(window, &process);
    if (process == ::GetCurrentProcessId()) ::PostThreadMessageW(thread, WM_QUIT, 0, 0);
    return TRUE;
}

// The launcher leaves its splash up for the engine. Ending the splash thread's
// message loop with WM_QUIT makes the thread destroy the window; another
// application's splash is not ours to end. The top-level windows are walked
// with EnumWindows, which the device has (it has no FindWindowEx).
void DismissSplash() { ::EnumWindows(DismissIfOurSplash, 0); }

// ---------------------------------------------------------------- the window

// The application package the launcher carries, as text for the window.
wchar_t* PackageText(HMODULE launcher) {
    HRSRC resource = ::FindResourceW(launcher, KEL_WIDE(KEL_APPLICATION_RESOURCE_NAME),
                                     KEL_WIDE(KEL_APPLICATION_RESOURCE_TYPE));
    HGLOBAL loaded = resource != NULL ? ::LoadResource(launcher, resource) : NULL;
    if (loaded == NULL) return NULL;
    const char* bytes = static_cast<const char*>(LockResource(loaded));   // a macro on the device
    int size = static_cast<int>(::SizeofResource(launcher, resource));
    int units = ::MultiByteToWideChar(CP_UTF8, 0, bytes, size, NULL, 0);
    wchar_t* text = static_cast<wchar_t*>(std::calloc(static_cast<size_t>(units) + 1, sizeof(wchar_t)));
    if (text != NULL) ::MultiByteToWideChar(CP_UTF8, 0, bytes, size, text, units);
    return text;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            ::MoveWindow(::GetDlgItem(window, kPackageControl), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
            return 0;
        case KEL_ACTIVATION_MESSAGE:
            // A second start of the same application: come forward instead.
            // (The device never minimises a window; the style bit stays clear there.)
            if (::GetWindowLongW(window, GWL_STYLE) & WS_MINIMIZE) ::ShowWindow(window, SW_RESTORE);
            ::SetForegroundWindow(window);
            return 0;
        case kCommandMessage: {
            char* line = reinterpret_cast<char*>(lParam);
            Command(window, line);
            std::free(line);
            return 0;
        }
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

#ifdef UNDER_CE
// The device's windows have a caption and fill the screen; it has no sizing frame.
const DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU;
#else
const DWORD kWindowStyle = WS_OVERLAPPEDWINDOW;
#endif

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_self = self;
    return TRUE;
}

// The entry routine of the contract (KelMainWProc), exported undecorated.
extern "C" __declspec(dllexport) int KelMainW(HINSTANCE instance, HINSTANCE, const wchar_t* commandLine, int show,
                                              HMODULE launcher, HMODULE) {
    wchar_t className[256];
    sample::TargetName(reinterpret_cast<const char16_t*>(commandLine != NULL ? commandLine : L""),
                       reinterpret_cast<char16_t*>(className), 256);

    WNDCLASSW windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = g_self;
    windowClass.hIcon = ::LoadIconW(launcher, MAKEINTRESOURCEW(KEL_ICON_GROUP_ID));
    windowClass.hCursor = ::LoadCursorW(NULL, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = className;
    if (::RegisterClassW(&windowClass) == 0) return 1;
    HWND window = ::CreateWindowExW(0, className, L"Kel sample engine", kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, g_self, NULL);
    if (window == NULL) return 1;

    wchar_t* package = PackageText(launcher);
    HWND edit = ::CreateWindowExW(0, L"EDIT", package != NULL ? package : L"(no application package)",
                                  WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY, 0, 0, 0, 0,
                                  window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kPackageControl)), instance,
                                  NULL);
#ifndef UNDER_CE
    // The device's controls draw in its one system font already.
    ::SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
#else
    (void)edit;
#endif
    std::free(package);

    StartListener(window);
    ::ShowWindow(window, show);
    ::UpdateWindow(window);
    DismissSplash();

    MSG message;
    while (::GetMessageW(&message, NULL, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    StopListener();
    ::UnregisterClassW(className, g_self);
    return g_exitCode;
}
