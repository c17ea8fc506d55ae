// What an engine calls of the device beyond the launcher's platform layer,
// as the device sample engine calls it, on the simulation's world
// (tests/sim): the processes a second program runs in, window enumeration
// and what it reads of a window, the edit control, text conversion, icons
// and cursors, and the listener's side of the loopback sockets. Each call
// has the device's name and meaning, and is logged and held to the device's
// contract like the platform layer's. The loader binds device code to these
// (coredll.cpp); the launcher and its tests never call them.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace celoader {

// ---------------------------------------------------------------- processes
//
// The world has one process, the first, until the loader runs a second
// program beside the first: StartProcess makes the calling thread the first
// thread of a new process, which has its own launcher module, library
// mappings and window classes (tests/sim/world.h says what is whose). A
// thread that entered no process is in the first.

// The calling thread's process, as the device's GetCurrentProcessId reads
// it from the kernel's data page.
platform::DWORD CurrentProcessId();
// The first process's id: this program's process id as it started (a
// forked child keeps its parent's, so its runs compare with the parent's).
platform::DWORD FirstProcessId();
// Makes the calling thread the first of a new process, and returns its id.
platform::DWORD StartProcess();
// Moves the calling thread into a process (FirstProcessId: the first), as a
// thread that ran a second program goes back to where it came from.
void EnterProcess(platform::DWORD process);

namespace engine {

typedef platform::BOOL (*WNDENUMPROC)(platform::HWND window, platform::LPARAM parameter);

// Top-level windows, the newest first (foreign ones included), until the callback gives FALSE.
platform::BOOL EnumWindows(WNDENUMPROC callback, platform::LPARAM parameter);
// The class name, cut to size - 1 units and terminated; the units copied, 0 for no window.
int GetClassNameW(platform::HWND window, char16_t* name, int size);
// The thread that made the window, and that thread's process (another for a foreign window).
platform::DWORD GetWindowThreadProcessId(platform::HWND window, platform::DWORD* process);
platform::BOOL PostThreadMessageW(platform::DWORD thread, platform::UINT message, platform::WPARAM wParam,
                                  platform::LPARAM lParam);
void PostQuitMessage(int exitCode);
// The child of the window whose id (CreateWindowExW's menu) is id.
platform::HWND GetDlgItem(platform::HWND window, int id);
platform::LRESULT SendMessageW(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                               platform::LPARAM lParam);
platform::BOOL MoveWindow(platform::HWND window, int x, int y, int width, int height, platform::BOOL repaint);
int32_t GetWindowLongW(platform::HWND window, int index);
platform::BOOL ShowWindow(platform::HWND window, int command);
platform::BOOL UpdateWindow(platform::HWND window);
platform::BOOL UnregisterClassW(const char16_t* className, platform::HINSTANCE instance);
platform::HICON LoadIconW(platform::HINSTANCE module, const char16_t* name);
platform::HCURSOR LoadCursorW(platform::HINSTANCE module, const char16_t* name);
int MultiByteToWideChar(platform::UINT codePage, platform::DWORD flags, const char* bytes, int count,
                        char16_t* units, int room);

// The listener's side of the loopback sockets (engine_sockets.cpp).
int bind(platform::SOCKET s, const platform::SOCKADDR_IN* address, int length);
int listen(platform::SOCKET s, int backlog);
platform::SOCKET accept(platform::SOCKET s, platform::SOCKADDR_IN* address, int* length);
int getsockname(platform::SOCKET s, platform::SOCKADDR_IN* address, int* length);
int recv(platform::SOCKET s, char* data, int length, int flags);

}  // namespace engine
}  // namespace celoader
