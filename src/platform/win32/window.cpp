// Windows, messages and painting on the real platform.
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

// ---------------------------------------------------------------- classes, windows and messages
//
// The core's window procedures have the default calling convention, which on
// 32-bit x86 is not the one Windows calls them with. Every class the core
// registers therefore gets Trampoline as its procedure, and the trampoline
// looks the core's procedure up by the class atom of the window it is called
// for.

namespace {

struct ClassProcedure {
    volatile ::LONG taken;  // 1 while a registration holds the slot
    ::ATOM atom;
    platform::WNDPROC procedure;
};

// The launcher registers one class; a few spare slots cost nothing. A
// registration that fails gives its slot back, so failures never use them up.
constexpr ::LONG kMaxClasses = 8;
ClassProcedure classProcedures[kMaxClasses];

platform::WNDPROC ProcedureFor(::HWND window) {
    auto atom = static_cast<::ATOM>(::GetClassWord(window, GCW_ATOM));
    for (::LONG i = 0; i < kMaxClasses; ++i) {
        if (classProcedures[i].taken && classProcedures[i].atom == atom && classProcedures[i].procedure != nullptr) {
            return classProcedures[i].procedure;
        }
    }
    return nullptr;
}

::LRESULT CALLBACK Trampoline(::HWND window, ::UINT message, ::WPARAM wParam, ::LPARAM lParam) {
    platform::WNDPROC procedure = ProcedureFor(window);
    if (procedure == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
    return procedure(win32::As<platform::HWND>(window), message, wParam, lParam);
}

void ToPlatform(const ::MSG& from, platform::MSG* to) {
    to->hwnd = win32::As<platform::HWND>(from.hwnd);
    to->message = from.message;
    to->wParam = from.wParam;
    to->lParam = from.lParam;
    to->time = from.time;
    to->ptX = from.pt.x;
    to->ptY = from.pt.y;
}

::MSG FromPlatform(const platform::MSG& from) {
    ::MSG to = {};
    to.hwnd = win32::As<::HWND>(from.hwnd);
    to.message = from.message;
    to.wParam = from.wParam;
    to.lParam = from.lParam;
    to.time = from.time;
    to.pt.x = from.ptX;
    to.pt.y = from.ptY;
    return to;
}

}  // namespace

int GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }

ATOM RegisterClassW(const WNDCLASSW* windowClass) {
    ::LONG slot = 0;
    while (slot < kMaxClasses && ::InterlockedCompareExchange(&classProcedures[slot].taken, 1, 0) != 0) ++slot;
    if (slot == kMaxClasses) return 0;
    ::WNDCLASSW real = {};
    real.style = windowClass->style;
    real.lpfnWndProc = Trampoline;
    real.cbClsExtra = windowClass->cbClsExtra;
    real.cbWndExtra = windowClass->cbWndExtra;
    real.hInstance = As<::HINSTANCE>(windowClass->hInstance);
    real.hIcon = As<::HICON>(windowClass->hIcon);
    real.hCursor = As<::HCURSOR>(windowClass->hCursor);
    real.hbrBackground = As<::HBRUSH>(windowClass->hbrBackground);
    real.lpszMenuName = W(windowClass->lpszMenuName);
    real.lpszClassName = W(windowClass->lpszClassName);
    // A window of the class exists only once RegisterClassW has returned, so
    // the entry is complete before the trampoline can be asked for it.
    classProcedures[slot].procedure = nullptr;
    ::ATOM atom = ::RegisterClassW(&real);
    classProcedures[slot].atom = atom;
    classProcedures[slot].procedure = atom != 0 ? windowClass->lpfnWndProc : nullptr;
    if (atom == 0) ::InterlockedExchange(&classProcedures[slot].taken, 0);
    return atom;
}

HWND CreateWindowExW(DWORD exStyle, const char16_t* className, const char16_t* windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) {
    return As<HWND>(::CreateWindowExW(exStyle, W(className), W(windowName), style, x, y, width, height,
                                      As<::HWND>(parent), As<::HMENU>(menu), As<::HINSTANCE>(instance), param));
}

BOOL DestroyWindow(HWND window) { return ::DestroyWindow(As<::HWND>(window)); }

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(As<::HWND>(window), message, wParam, lParam);
}

BOOL GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax) {
    ::MSG real = {};
    BOOL result = ::GetMessageW(&real, As<::HWND>(window), filterMin, filterMax);
    ToPlatform(real, message);
    return result;
}

BOOL TranslateMessage(const MSG* message) {
    ::MSG real = FromPlatform(*message);
    return ::TranslateMessage(&real);
}

LRESULT DispatchMessageW(const MSG* message) {
    ::MSG real = FromPlatform(*message);
    return ::DispatchMessageW(&real);
}

// ---------------------------------------------------------------- painting

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
    ::PAINTSTRUCT real = {};
    ::HDC dc = ::BeginPaint(As<::HWND>(window), &real);
    paint->hdc = As<HDC>(real.hdc);
    paint->fErase = real.fErase;
    paint->rcPaint = RECT{real.rcPaint.left, real.rcPaint.top, real.rcPaint.right, real.rcPaint.bottom};
    paint->fRestore = real.fRestore;
    paint->fIncUpdate = real.fIncUpdate;
    static_assert(sizeof paint->rgbReserved == sizeof real.rgbReserved, "paint records reserve the same bytes");
    for (size_t i = 0; i < sizeof real.rgbReserved; ++i) paint->rgbReserved[i] = real.rgbReserved[i];
    return As<HDC>(dc);
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
    ::PAINTSTRUCT real = {};
    real.hdc = As<::HDC>(paint->hdc);
    real.fErase = paint->fErase;
    real.rcPaint = ::RECT{paint->rcPaint.left, paint->rcPaint.top, paint->rcPaint.right, paint->rcPaint.bottom};
    real.fRestore = paint->fRestore;
    real.fIncUpdate = paint->fIncUpdate;
    for (size_t i = 0; i < sizeof real.rgbReserved; ++i) real.rgbReserved[i] = paint->rgbReserved[i];
    return ::EndPaint(As<::HWND>(window), &real);
}

}  // namespace platform
