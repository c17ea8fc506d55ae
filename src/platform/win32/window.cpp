// Windows, messages and painting on the real platform.
#include "platform/win32/win32.h"

namespace platform {

using win32::As;
using win32::W;

int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type) {
    return ::MessageBoxW(As< ::HWND>(owner), W(text), W(caption), type);
}

void OutputDebugStringW(const char16_t* text) { ::OutputDebugStringW(W(text)); }

HWND FindWindowW(const char16_t* className, const char16_t* windowName) {
    return As<HWND>(::FindWindowW(W(className), W(windowName)));
}

BOOL SetForegroundWindow(HWND window) { return ::SetForegroundWindow(As< ::HWND>(window)); }

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessageW(As< ::HWND>(window), message, wParam, lParam);
}

// ---------------------------------------------------------------- classes, windows and messages
//
// The core's window procedures have the default calling convention, which on
// 32-bit x86 is not the one Windows calls them with. Every class the core
// registers therefore gets a trampoline of its own as its procedure, one per
// slot of the table below, and each trampoline calls the procedure its slot
// holds. The slot is known at compile time, so no call asks the window which
// class it has (the device has no GetClassWord to ask with).

namespace {

struct ClassProcedure {
    volatile ::LONG taken;  // 1 while a registration holds the slot
    platform::WNDPROC procedure;
};

// The launcher registers one class; a few spare slots cost nothing. A
// registration that fails gives its slot back, so failures never use them up.
const ::LONG kMaxClasses = 8;
ClassProcedure classProcedures[kMaxClasses];

template <int Slot>
::LRESULT CALLBACK Trampoline(::HWND window, ::UINT message, ::WPARAM wParam, ::LPARAM lParam) {
    platform::WNDPROC procedure = classProcedures[Slot].procedure;
    if (procedure == NULL) return ::DefWindowProcW(window, message, wParam, lParam);
    return procedure(win32::As<platform::HWND>(window), message, wParam, lParam);
}

const ::WNDPROC kTrampolines[kMaxClasses] = {Trampoline<0>, Trampoline<1>, Trampoline<2>, Trampoline<3>,
                                             Trampoline<4>, Trampoline<5>, Trampoline<6>, Trampoline<7>};

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
    to.hwnd = win32::As< ::HWND>(from.hwnd);
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
    real.lpfnWndProc = kTrampolines[slot];
    real.cbClsExtra = windowClass->cbClsExtra;
    real.cbWndExtra = windowClass->cbWndExtra;
    real.hInstance = As< ::HINSTANCE>(windowClass->hInstance);
    real.hIcon = As< ::HICON>(windowClass->hIcon);
    real.hCursor = As< ::HCURSOR>(windowClass->hCursor);
    real.hbrBackground = As< ::HBRUSH>(windowClass->hbrBackground);
    real.lpszMenuName = W(windowClass->lpszMenuName);
    real.lpszClassName = W(windowClass->lpszClassName);
    // A window of the class exists only once RegisterClassW has returned, so
    // the entry is complete before the trampoline can be asked for it.
    classProcedures[slot].procedure = NULL;
    ::ATOM atom = ::RegisterClassW(&real);
    classProcedures[slot].procedure = atom != 0 ? windowClass->lpfnWndProc : NULL;
    if (atom == 0) ::InterlockedExchange(&classProcedures[slot].taken, 0);
    return atom;
}

HWND CreateWindowExW(DWORD exStyle, const char16_t* className, const char16_t* windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) {
    return As<HWND>(::CreateWindowExW(exStyle, W(className), W(windowName), style, x, y, width, height,
                                      As< ::HWND>(parent), As< ::HMENU>(menu), As< ::HINSTANCE>(instance), param));
}

BOOL DestroyWindow(HWND window) { return ::DestroyWindow(As< ::HWND>(window)); }

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(As< ::HWND>(window), message, wParam, lParam);
}

BOOL GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax) {
    ::MSG real = {};
    BOOL result = ::GetMessageW(&real, As< ::HWND>(window), filterMin, filterMax);
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
    ::HDC dc = ::BeginPaint(As< ::HWND>(window), &real);
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
    real.hdc = As< ::HDC>(paint->hdc);
    real.fErase = paint->fErase;
    real.rcPaint = ::RECT{paint->rcPaint.left, paint->rcPaint.top, paint->rcPaint.right, paint->rcPaint.bottom};
    real.fRestore = paint->fRestore;
    real.fIncUpdate = paint->fIncUpdate;
    for (size_t i = 0; i < sizeof real.rgbReserved; ++i) real.rgbReserved[i] = paint->rgbReserved[i];
    return ::EndPaint(As< ::HWND>(window), &real);
}

}  // namespace platform
