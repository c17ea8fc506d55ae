// findwin.exe: finds a top-level window as another program would, tells what
// it shows, and can press one of its buttons or close it.
//
//   findwin.exe --class NAME [--title TEXT] [--timeout MS] [--press ID] [--close] [--gone MS] [--hidden] [--desktop NAME] [--skip-pid PID]
//
// Waits up to --timeout (default 10000 ms) for a shown window of the class
// (and title); --hidden takes hidden windows too. Prints found=, then the window's title, class, owning process,
// position and style, and one child= line per child window:
// class|id|visible|text. --press posts the button ID's click to the window
// (a message box's OK is 1); --close posts WM_CLOSE; --gone waits that long
// for the window to disappear and prints gone=. --desktop looks on another
// desktop than the caller's, such as a Wine virtual desktop. --skip-pid
// passes over the windows of one process. Exit code 0 when found, 1 not.
#include "helper.h"

namespace {

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
    wchar_t className[256] = {0};
    wchar_t text[2048] = {0};
    ::GetClassNameW(child, className, 256);
    // WM_GETTEXT reaches controls of another process, which GetWindowTextW does not.
    ::SendMessageTimeoutW(child, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
    wchar_t line[2400];
    _snwprintf(line, 2400, L"%ls|%d|%d|%ls", className, ::GetDlgCtrlID(child), ::IsWindowVisible(child) ? 1 : 0,
               text);
    line[2399] = 0;
    helper::LineWide("child", line);
    return TRUE;
}

// The first window of the class and title that is shown: a dialog exists
// hidden while it is being filled in, and pressing its buttons then would
// act on a half-made window.
HWND FindVisible(const wchar_t* className, const wchar_t* title, bool hidden, DWORD skipPid) {
    HWND candidate = nullptr;
    while ((candidate = ::FindWindowExW(nullptr, candidate, className, title)) != nullptr) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(candidate, &pid);
        if (skipPid != 0 && pid == skipPid) continue;
        if (hidden || ::IsWindowVisible(candidate)) return candidate;
    }
    return nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const wchar_t* className = nullptr;
    const wchar_t* title = nullptr;
    DWORD timeout = 10000;
    int press = -1;
    bool close = false;
    bool hidden = false;
    const wchar_t* desktop = nullptr;
    DWORD skipPid = 0;
    DWORD gone = 0;
    for (int i = 1; i < argc; ++i) {
        bool hasValue = i + 1 < argc;
        if (std::wcscmp(argv[i], L"--class") == 0 && hasValue) className = argv[++i];
        else if (std::wcscmp(argv[i], L"--title") == 0 && hasValue) title = argv[++i];
        else if (std::wcscmp(argv[i], L"--timeout") == 0 && hasValue) timeout = static_cast<DWORD>(_wtoi(argv[++i]));
        else if (std::wcscmp(argv[i], L"--press") == 0 && hasValue) press = _wtoi(argv[++i]);
        else if (std::wcscmp(argv[i], L"--gone") == 0 && hasValue) gone = static_cast<DWORD>(_wtoi(argv[++i]));
        else if (std::wcscmp(argv[i], L"--close") == 0) close = true;
        else if (std::wcscmp(argv[i], L"--hidden") == 0) hidden = true;
        else if (std::wcscmp(argv[i], L"--desktop") == 0 && hasValue) desktop = argv[++i];
        else if (std::wcscmp(argv[i], L"--skip-pid") == 0 && hasValue) skipPid = static_cast<DWORD>(_wtoi(argv[++i]));
        else return helper::Fail("usage: findwin.exe --class NAME [--title TEXT] [--timeout MS] [--press ID] [--close] [--gone MS] [--hidden] [--desktop NAME] [--skip-pid PID]");
    }
    if (className == nullptr && title == nullptr) return helper::Fail("give --class or --title");
    if (desktop != nullptr) {
        // Windows are found on the calling thread's desktop; this thread has no window yet, so it may move.
        HDESK other = ::OpenDesktopW(desktop, 0, FALSE, GENERIC_ALL);
        if (other == nullptr || !::SetThreadDesktop(other)) return helper::Fail("cannot join that desktop");
    }

    DWORD start = ::GetTickCount();
    HWND window = nullptr;
    while ((window = FindVisible(className, title, hidden, skipPid)) == nullptr && ::GetTickCount() - start < timeout) {
        ::Sleep(50);
    }
    helper::LineNumber("found", window != nullptr);
    if (window == nullptr) return 1;
    helper::LineNumber("found_after_ms", ::GetTickCount() - start);

    wchar_t text[1024] = {0};
    ::GetWindowTextW(window, text, 1024);
    helper::LineWide("title", text);
    ::GetClassNameW(window, text, 1024);
    helper::LineWide("class", text);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    helper::LineNumber("pid", pid);
    RECT rect;
    ::GetWindowRect(window, &rect);
    char value[96];
    std::snprintf(value, sizeof value, "%ld,%ld,%ld,%ld", rect.left, rect.top, rect.right - rect.left,
                  rect.bottom - rect.top);
    helper::Line("rect", value);
    std::snprintf(value, sizeof value, "0x%08lx", static_cast<unsigned long>(::GetWindowLongW(window, GWL_STYLE)));
    helper::Line("style", value);
    std::snprintf(value, sizeof value, "0x%08lx", static_cast<unsigned long>(::GetWindowLongW(window, GWL_EXSTYLE)));
    helper::Line("exstyle", value);
    helper::LineNumber("visible", ::IsWindowVisible(window) ? 1 : 0);
    helper::LineNumber("foreground", ::GetForegroundWindow() == window ? 1 : 0);
    ::EnumChildWindows(window, PrintChild, 0);

    if (press >= 0) {
        HWND button = ::GetDlgItem(window, press);
        helper::LineNumber("pressed", ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED),
                                                     reinterpret_cast<LPARAM>(button)) ? 1 : 0);
    }
    if (close) helper::LineNumber("closed", ::PostMessageW(window, WM_CLOSE, 0, 0) ? 1 : 0);
    if (gone > 0) {
        start = ::GetTickCount();
        while (::IsWindow(window) && ::GetTickCount() - start < gone) ::Sleep(50);
        helper::LineNumber("gone", ::IsWindow(window) ? 0 : 1);
    }
    return 0;
}
