// winrec.exe: stands in for running applications. It opens one window for
// each class it is given and appends to a record every message a second
// launcher could post them (WM_USER and above), with the window's class, the
// parameters, and whether the window was in the foreground when it arrived.
//
//   winrec.exe RECORD LIFETIME_MS [--hidden] CLASS...
//
// The record gets "ready=1" once every window exists, one
// "message=CLASS MESSAGE wparam=W lparam=L foreground=F" line per message,
// and "end=1" when the lifetime is over or a window is closed.
//
// With --hidden the windows are never shown: the fixture keeps one such
// window open for the whole run, because Wine takes its desktop down once
// the last program with a window has ended, and starting it again costs
// seconds.
#include "helper.h"

namespace {

const wchar_t* g_record = nullptr;

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_USER && message <= 0xBFFF) {
        wchar_t className[256] = {0};
        ::GetClassNameW(window, className, 256);
        char utf8[768] = {0};
        ::WideCharToMultiByte(CP_UTF8, 0, className, -1, utf8, sizeof utf8, nullptr, nullptr);
        char line[1024];
        std::snprintf(line, sizeof line, "message=%s %u wparam=%llu lparam=%lld foreground=%d\n", utf8, message,
                      static_cast<unsigned long long>(wParam), static_cast<long long>(lParam),
                      ::GetForegroundWindow() == window ? 1 : 0);
        helper::Append(g_record, line);
        return 0;
    }
    if (message == WM_CLOSE) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return helper::Fail("usage: winrec.exe RECORD LIFETIME_MS [--hidden] CLASS...");
    g_record = argv[1];
    UINT lifetime = static_cast<UINT>(_wtoi(argv[2]));
    int first = 3;
    DWORD visible = WS_VISIBLE;
    if (std::wcscmp(argv[3], L"--hidden") == 0) {
        visible = 0;
        ++first;
    }
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    for (int i = first; i < argc; ++i) {
        WNDCLASSW windowClass;
        std::memset(&windowClass, 0, sizeof windowClass);
        windowClass.lpfnWndProc = RecorderProc;
        windowClass.hInstance = instance;
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = argv[i];
        if (::RegisterClassW(&windowClass) == 0) return helper::Fail("RegisterClassW failed");
        HWND window = ::CreateWindowExW(0, argv[i], L"winrec", WS_OVERLAPPEDWINDOW | visible, 10 + 4 * i, 10 + 4 * i,
                                        200, 100, nullptr, nullptr, instance, nullptr);
        if (window == nullptr) return helper::Fail("CreateWindowExW failed");
    }
    // A thread timer: it ends the loop whichever window is around.
    ::SetTimer(nullptr, 0, lifetime, nullptr);
    helper::Append(g_record, "ready=1\n");
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr) break;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    helper::Append(g_record, "end=1\n");
    return 0;
}
