// winrec.exe: stands in for a running application. It opens a window of the
// given class and appends to a record every message a second launcher could
// post it (WM_USER and above), with its parameters and whether the window was
// in the foreground when it arrived.
//
//   winrec.exe CLASS RECORD LIFETIME_MS [hidden]
//
// With "hidden" the window is never shown: the fixture keeps one such window
// open for the whole run, because Wine takes its desktop down once the last
// program with a window has ended, and starting it again costs seconds.
//
// The record gets "ready=1" once the window exists, one "message=" line per
// message, and "end=1" when the lifetime is over or the window is closed.
#include "helper.h"

namespace {

const wchar_t* g_record = nullptr;

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_USER && message <= 0xBFFF) {
        char line[160];
        std::snprintf(line, sizeof line, "message=%u wparam=%llu lparam=%lld foreground=%d\n", message,
                      static_cast<unsigned long long>(wParam), static_cast<long long>(lParam),
                      ::GetForegroundWindow() == window ? 1 : 0);
        helper::Append(g_record, line);
        return 0;
    }
    if (message == WM_TIMER || message == WM_CLOSE) {
        ::DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4 && !(argc == 5 && std::wcscmp(argv[4], L"hidden") == 0)) {
        return helper::Fail("usage: winrec.exe CLASS RECORD LIFETIME_MS [hidden]");
    }
    DWORD visible = argc == 5 ? 0 : WS_VISIBLE;
    g_record = argv[2];
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = RecorderProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = argv[1];
    if (::RegisterClassW(&windowClass) == 0) return helper::Fail("RegisterClassW failed");
    HWND window = ::CreateWindowExW(0, argv[1], L"winrec", WS_OVERLAPPEDWINDOW | visible, 10, 10, 200, 100,
                                    nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return helper::Fail("CreateWindowExW failed");
    ::SetTimer(window, 1, static_cast<UINT>(_wtoi(argv[3])), nullptr);
    helper::Append(g_record, "ready=1\n");
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    helper::Append(g_record, "end=1\n");
    return 0;
}
