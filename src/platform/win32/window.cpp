// Windows and messages on the real platform.
#include "platform/win32/win32.h"

namespace platform {

using win32::As;
using win32::W;

int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type) {
    return ::MessageBoxW(As<::HWND>(owner), W(text), W(caption), type);
}

void OutputDebugStringW(const char16_t* text) { ::OutputDebugStringW(W(text)); }

HWND FindWindowW(const char16_t* className, const char16_t* windowName) {
    return As<HWND>(::FindWindowW(W(className), W(windowName)));
}

BOOL SetForegroundWindow(HWND window) { return ::SetForegroundWindow(As<::HWND>(window)); }

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessageW(As<::HWND>(window), message, wParam, lParam);
}

}  // namespace platform
