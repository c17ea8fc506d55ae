// The recording probe: an engine that keeps every promise the launcher
// relies on, as the sample engine (engine/) does, and tells a test, the demo
// or the start-up benchmark what it was given and what it did.
//
// It records its six arguments and the command line, unit for unit (see
// record.h), shows the application package that the launcher carries in a
// window of its own, answers the activation message of a second launcher,
// takes relayed commands on a loopback port, names its window class after
// the target name the launcher derives from the same command line, takes the splash down once its
// own window is up, and returns the exit code it was asked for.
//
// What drives it, all from the environment (Wine hands the Unix environment
// to Windows programs):
//   KEL_ENGINE_RECORD        file to append the record to (none: no record)
//   KEL_ENGINE_EXIT          the exit code to return (default 0)
//   KEL_ENGINE_LIFETIME_MS   how long to run before ending on its own
//                            (default 5000; 0 returns at once, with no window,
//                            no listener and the splash left alone)
//   KEL_ENGINE_SPLASH_MS     how long to leave the splash alone before the
//                            engine shows its window and dismisses the splash
//                            (default 0), so that a screenshot can catch it
//   KEL_BENCH_OUT            file to which one line "<microseconds>\r\n", the
//                            time from process creation to the entry, is
//                            appended (the start-up figures of make bench)
// The launcher's own headers come first: their constants share names with
// the macros of <windows.h>, which would otherwise rewrite them.
#include "cmdline/scan.h"
#include "contract/kel.h"
#include "text/text.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "record.h"
#include "server.h"

namespace {

constexpr UINT kActivationMessage = kel::kActivationMessage;   // posted by a second launcher
constexpr UINT kSocketMessage = WM_APP + 1;
constexpr UINT_PTR kLifetimeTimer = 1;
constexpr UINT_PTR kShowTimer = 2;
constexpr UINT_PTR kSplashCheckTimer = 3;
constexpr int kPackageControl = 100;

const wchar_t* const kSplashClass = reinterpret_cast<const wchar_t*>(kel::kSplashClassName);

HMODULE g_self = nullptr;

struct EngineState {
    int exitCode;          // what KelMainW returns
    int activations;       // activation messages seen so far
    HWND window;
    HWND splash;           // the splash window this engine dismissed, if any
    wchar_t* packageText;  // the application package as text, or null
    wchar_t* className;    // the window class: the target name of the command line
    DWORD splashDismissedAt;  // tick count when WM_QUIT was posted to the splash thread
};

EngineState g_state;

// The launcher's "KELFILE" resource "KEL-APPLICATION.KEL"; null when the launcher carries none.
const BYTE* FindPackage(HMODULE launcher, DWORD* size) {
    HRSRC resource = ::FindResourceW(launcher, reinterpret_cast<const wchar_t*>(kel::kApplicationResourceName),
                                        reinterpret_cast<const wchar_t*>(kel::kApplicationResourceType));
    if (resource == nullptr) return nullptr;
    HGLOBAL loaded = ::LoadResource(launcher, resource);
    if (loaded == nullptr) return nullptr;
    *size = ::SizeofResource(launcher, resource);
    return static_cast<const BYTE*>(::LockResource(loaded));
}

// The package shown as text: UTF-8 when it is, else one character per byte;
// an edit control wants CR LF line ends.
wchar_t* PackageText(const BYTE* bytes, DWORD size) {
    int units = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes),
                                      static_cast<int>(size), nullptr, 0);
    UINT codePage = units > 0 ? CP_UTF8 : 1252;
    units = ::MultiByteToWideChar(codePage, 0, reinterpret_cast<const char*>(bytes), static_cast<int>(size), nullptr, 0);
    wchar_t* raw = static_cast<wchar_t*>(std::calloc(static_cast<size_t>(units) + 1, sizeof(wchar_t)));
    ::MultiByteToWideChar(codePage, 0, reinterpret_cast<const char*>(bytes), static_cast<int>(size), raw, units);
    wchar_t* text = static_cast<wchar_t*>(std::calloc(static_cast<size_t>(units) * 2 + 1, sizeof(wchar_t)));
    wchar_t* out = text;
    for (int i = 0; i < units; ++i) {
        wchar_t c = raw[i];
        if (c == 0) c = L' ';   // a NUL would end the control's text early
        if (c == L'\n' && (i == 0 || raw[i - 1] != L'\r')) *out++ = L'\r';
        *out++ = c;
    }
    *out = 0;
    std::free(raw);
    return text;
}

// The window class a second launcher looks for: the target name that the
// launcher's own scan derives from this command line. When the line holds
// the relay option there is no target name (a second start with the same
// line relays again instead of handing over), and the default name stands in.
wchar_t* TargetClassName(const wchar_t* commandLine) {
    cmdline::ScanResult scan = cmdline::ScanCommandLine(reinterpret_cast<const char16_t*>(commandLine));
    char16_t* name = nullptr;
    if (scan.kind == cmdline::ScanKind::kTarget) {
        name = text::WideJoin(scan.target, u"");
        engine::Record("scan", "target");
    } else {
        name = text::Widen(cmdline::kDefaultTargetName, -1);
        engine::Record("scan", "relay");
        if (scan.relayAt + 1 < scan.count) {
            const char16_t* command = scan.arguments[scan.relayAt + 1];
            engine::RecordWideHex("relay_option_command", reinterpret_cast<const wchar_t*>(command),
                                  static_cast<size_t>(text::WideLength(command)));
        }
    }
    cmdline::FreeScan(&scan);
    return reinterpret_cast<wchar_t*>(name);
}

void RecordArguments(HINSTANCE instance, HINSTANCE previous, const wchar_t* commandLine, int show,
                     HMODULE launcher, HMODULE engine) {
    HMODULE process = ::GetModuleHandleW(nullptr);
    engine::RecordNumber("pid", static_cast<long long>(::GetCurrentProcessId()));
    engine::RecordHandle("instance", instance);
    engine::RecordNumber("instance_is_process_module", instance == process);
    engine::RecordHandle("previous", previous);
    engine::RecordNumber("show", show);
    engine::RecordHandle("launcher_module", launcher);
    engine::RecordNumber("launcher_module_is_process_module", launcher == process);
    engine::RecordHandle("engine_module", engine);
    engine::RecordNumber("engine_module_is_self", engine == g_self && engine != nullptr);

    wchar_t path[MAX_PATH * 4];
    if (::GetModuleFileNameW(launcher, path, MAX_PATH * 4) != 0) engine::RecordWide("launcher_path", path);
    if (::GetModuleFileNameW(g_self, path, MAX_PATH * 4) != 0) engine::RecordWide("engine_path", path);

    char screen[48];
    wsprintfA(screen, "%dx%d", ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
    engine::Record("screen", screen);

    size_t units = commandLine != nullptr ? std::wcslen(commandLine) : 0;
    engine::RecordNumber("command_line_units", static_cast<long long>(units));
    engine::RecordWideHex("command_line", commandLine != nullptr ? commandLine : L"", units);
    engine::RecordWide("command_line_text", commandLine != nullptr ? commandLine : L"");
}

// Finds the splash window of this process: another application's splash is not ours to end.
HWND FindOwnSplash() {
    HWND candidate = nullptr;
    while ((candidate = ::FindWindowExW(nullptr, candidate, kSplashClass, nullptr)) != nullptr) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(candidate, &pid);
        if (pid == ::GetCurrentProcessId()) return candidate;
    }
    return nullptr;
}

// The launcher leaves the splash up for the engine to end. Its thread's
// message loop ends at WM_QUIT and destroys the window; a WM_CLOSE would
// remove the window but leave the thread waiting for nothing.
void DismissSplash(HWND window) {
    HWND splash = FindOwnSplash();
    if (splash == nullptr) {
        engine::Record("splash", "none");
        return;
    }
    wchar_t title[256] = {0};
    ::GetWindowTextW(splash, title, 256);
    RECT rect;
    ::GetWindowRect(splash, &rect);
    engine::RecordWide("splash_title", title);
    char text[96];
    wsprintfA(text, "%ld,%ld,%ld,%ld", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    engine::Record("splash_rect", text);
    DWORD thread = ::GetWindowThreadProcessId(splash, nullptr);
    engine::RecordNumber("splash_dismissed", ::PostThreadMessageW(thread, WM_QUIT, 0, 0) ? 1 : 0);
    g_state.splash = splash;
    g_state.splashDismissedAt = ::GetTickCount();
    ::SetTimer(window, kSplashCheckTimer, 50, nullptr);
}

void ShowEngineWindow(HWND window) {
    ::ShowWindow(window, SW_SHOW);
    ::UpdateWindow(window);
    ::SetForegroundWindow(window);
    engine::Record("window_shown", "1");
    DismissSplash(window);
}

void Activate(HWND window, WPARAM wParam, LPARAM lParam) {
    ++g_state.activations;
    if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
    ::SetForegroundWindow(window);
    char text[96];
    wsprintfA(text, "%d wparam=%Iu lparam=%Id", g_state.activations, wParam, lParam);
    engine::Record("activated", text);
}

LRESULT CALLBACK EngineWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: {
            RECT client;
            ::GetClientRect(window, &client);
            HWND edit = ::CreateWindowExW(0, L"EDIT", g_state.packageText != nullptr ? g_state.packageText
                                                                                      : L"(this launcher carries no application package)",
                                          WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY,
                                          0, 0, client.right, client.bottom, window,
                                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(kPackageControl)),
                                          reinterpret_cast<LPCREATESTRUCTW>(lParam)->hInstance, nullptr);
            ::SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
            return 0;
        }
        case WM_SIZE:
            ::MoveWindow(::GetDlgItem(window, kPackageControl), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
            return 0;
        case kActivationMessage:
            Activate(window, wParam, lParam);
            return 0;
        case kSocketMessage: {
            int code = 0;
            if (engine::OnServerEvent(wParam, lParam, &code)) {
                g_state.exitCode = code;
                engine::Record("ended", "relayed quit");
                ::DestroyWindow(window);
            }
            return 0;
        }
        case WM_TIMER:
            if (wParam == kShowTimer) {
                ::KillTimer(window, kShowTimer);
                ShowEngineWindow(window);
            } else if (wParam == kSplashCheckTimer) {
                // Destroying a top-level window can take Wine two seconds on
                // an X server without a window manager: it waits for one to
                // confirm the unmapping. Give it up to five.
                DWORD waited = ::GetTickCount() - g_state.splashDismissedAt;
                bool gone = !::IsWindow(g_state.splash);
                if (gone || waited > 5000) {
                    ::KillTimer(window, kSplashCheckTimer);
                    engine::RecordNumber("splash_gone_after_ms", waited);
                    engine::RecordNumber("splash_gone", gone ? 1 : 0);
                }
            } else if (wParam == kLifetimeTimer) {
                engine::Record("ended", "lifetime");
                ::DestroyWindow(window);
            }
            return 0;
        case WM_CLOSE:
            engine::Record("ended", "closed");
            ::DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

int RunWindow(HINSTANCE instance, long long lifetime, long long splashDelay) {
    WNDCLASSW windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = EngineWindowProc;
    windowClass.hInstance = g_self;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(kel::kIconGroupId));
    windowClass.lpszClassName = g_state.className;
    if (::RegisterClassW(&windowClass) == 0) {
        engine::Record("window_class_registered", "0");
        return g_state.exitCode;
    }
    engine::RecordWide("window_class", g_state.className);

    // The whole work area, as an application on the device would take it.
    RECT area;
    if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) {
        area = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    }
    // Created hidden, so that a second launcher finds it while the splash is still up.
    HWND window = ::CreateWindowExW(0, g_state.className, L"Kel sample engine", WS_OVERLAPPEDWINDOW, area.left, area.top,
                                    area.right - area.left, area.bottom - area.top, nullptr, nullptr, g_self, nullptr);
    if (window == nullptr) {
        engine::Record("window_created", "0");
        return g_state.exitCode;
    }
    g_state.window = window;

    engine::StartServer(window, kSocketMessage);
    ::SetTimer(window, kLifetimeTimer, static_cast<UINT>(lifetime), nullptr);
    if (splashDelay > 0) {
        ::SetTimer(window, kShowTimer, static_cast<UINT>(splashDelay), nullptr);
    } else {
        ShowEngineWindow(window);
    }

    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    engine::StopServer();
    ::UnregisterClassW(g_state.className, g_self);
    return g_state.exitCode;
}

// Microseconds from the creation of this process to now, taken as
// precisely as the system tells the time; -1 when the creation time is
// not to be had. It measures how long the launcher took to reach the
// engine, the splash's wait included.
long long MicrosecondsSinceProcessStart() {
    using PreciseTime = void(WINAPI*)(FILETIME*);
    static PreciseTime precise = reinterpret_cast<PreciseTime>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
    FILETIME now;
    if (precise != nullptr) {
        precise(&now);
    } else {
        ::GetSystemTimeAsFileTime(&now);
    }
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
    ULARGE_INTEGER a, b;
    a.LowPart = created.dwLowDateTime;
    a.HighPart = created.dwHighDateTime;
    b.LowPart = now.dwLowDateTime;
    b.HighPart = now.dwHighDateTime;
    return static_cast<long long>((b.QuadPart - a.QuadPart) / 10);
}

// Appends the entry time to KEL_BENCH_OUT, if set.
void NoteEntryForBench(long long micros) {
    wchar_t path[MAX_PATH];
    DWORD length = ::GetEnvironmentVariableW(L"KEL_BENCH_OUT", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || micros < 0) return;
    char line[32];
    int size = wsprintfA(line, "%lu\r\n", static_cast<unsigned long>(micros));
    HANDLE file = ::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(file, line, static_cast<DWORD>(size), &written, nullptr);
    ::CloseHandle(file);
}

// What of the splash stands when the engine is entered: the launcher waits
// for its first paint, so it must be up and painted by now.
void RecordSplashAtEntry() {
    HWND splash = FindOwnSplash();
    engine::RecordNumber("splash_at_entry", splash != nullptr ? 1 : 0);
    if (splash == nullptr) return;
    wchar_t title[256] = {0};
    ::GetWindowTextW(splash, title, 256);
    engine::RecordWide("splash_title_at_entry", title);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_self = self;
    return TRUE;
}

extern "C" __declspec(dllexport) int KelMainW(HINSTANCE instance, HINSTANCE previous, const wchar_t* commandLine,
                                              int show, HMODULE launcherModule, HMODULE engineModule) {
    long long entered = MicrosecondsSinceProcessStart();
    NoteEntryForBench(entered);
    engine::OpenRecord();
    std::memset(&g_state, 0, sizeof g_state);
    engine::RecordNumber("entered_after_ms", entered < 0 ? -1 : entered / 1000);
    g_state.exitCode = static_cast<int>(engine::EnvNumber("KEL_ENGINE_EXIT", 0));
    RecordArguments(instance, previous, commandLine, show, launcherModule, engineModule);
    RecordSplashAtEntry();

    DWORD size = 0;
    const BYTE* package = FindPackage(launcherModule, &size);
    if (package != nullptr) {
        engine::RecordBytesHex("package", package, size);
        g_state.packageText = PackageText(package, size);
    } else {
        engine::Record("package", "none");
    }
    // Readers poll the record while the engine runs: this line says that
    // everything about the entry is written and may be read as a whole.
    engine::Record("entry_recorded", "1");

    g_state.className = TargetClassName(commandLine != nullptr ? commandLine : L"");
    long long lifetime = engine::EnvNumber("KEL_ENGINE_LIFETIME_MS", 5000);
    if (lifetime > 0) RunWindow(instance, lifetime, engine::EnvNumber("KEL_ENGINE_SPLASH_MS", 0));

    engine::RecordNumber("exit", g_state.exitCode);
    std::free(g_state.packageText);
    std::free(g_state.className);
    return g_state.exitCode;
}
