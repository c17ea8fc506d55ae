// The simulation: just enough Windows on Linux for the launcher's
// shells. It gives them the platform:: operations they call, with the meaning
// they rely on, and models nothing they do not call. A test seeds it, runs
// the launcher's code against it, and inspects what that code did:
//
//   seed:    Reset, SetLauncherPath, SetResource, MapImageFile, AddMappedImage,
//            SetLauncherModule, InstallLibrary, SetRegistryValue,
//            SetRegistryString, AddForeignWindow, SetScreenSize, SetSectionFill,
//            SetDefWindowProcResult, SetWaitSpeedup, Listen, UnusedPort, LimitSend, Fail
//   act:     call the launcher's functions, which reach platform::; InvalidateWindow
//            and PostThreadMessage stand in for the user and the engine
//   inspect: CallLog, CallLogOf, CallCount, MessageBoxes, Traces, LoadCount, GetRegistryValue,
//            GetRegistryString, RegistryKeyExists, OpenKeyCount, PostedMessages,
//            ForegroundWindow, CreatedWindows, GetWindowInfo, GetClassInfo,
//            StartedThreads, WaitForThreadEnd, GetSectionInfo, OpenDCCount, ScreenPixel,
//            Received, SocketLayerStarts, SocketLayerCleanups, OpenSocketCount, LingerSettings
//
// What only an engine calls (enumerating windows, listening sockets, a
// second process beside the first) is the engine loader's, on this same
// world (tests/celoader/engine_side.h).
//
// Everything is process-wide and guarded by one lock, because the splash
// thread calls into the simulation while the main thread does.
//
// It holds callers to the device's contract, Windows CE 4.20's: every
// integer, flag, text and handle a call is given is in the call log, a value
// the device does not take fails as it fails there, and what the device does
// with the values it takes is modelled (registry reserved words, suspended
// threads, manual-reset and signalled events, raster operations, bitmap
// sections, path lengths, where a bare library name is looked for, window
// styles). Each rule cites the reference page it follows.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sim {

// Forgets everything: resources, registry, libraries, windows, GDI objects,
// events, sockets, logs, failures. Threads that CreateThread started are
// first posted WM_QUIT and joined, so they must end on it (a message loop
// does); one created suspended is ended without running.
void Reset();

// ---------------------------------------------------------------- modules and resources

// The handle GetModuleHandleW(nullptr) returns: the calling process's launcher module.
platform::HMODULE LauncherModule();
// The path GetModuleFileNameW reports for the launcher's module.
void SetLauncherPath(const std::u16string& path);
// Puts a resource into the launcher's module, while that is no image (below);
// type and name match without regard to case.
void SetResource(const std::u16string& type, const std::u16string& name, const std::string& bytes);

// Program and library files as a loader maps them. A mapped image's module
// handle is its base address. FindResourceW, LoadResource and SizeofResource
// on it read its own resource tree in place, as the device does: a type or
// name given as text matches whatever its letter case, one given as a number
// (MAKEINTRESOURCE, below 0x10000) matches that id, the bytes are the image's
// own memory, and a tree that is damaged holds no resource at all.
//
// Maps a PE file's headers and sections into fresh memory (no code of it
// runs, so nothing is relocated or bound) and returns its handle; null, with
// the reason, when it is no PE image. It is unmapped at Reset.
platform::HMODULE MapImageFile(const std::string& path, std::string* error);
// Makes the resources of an image that a loader of its own mapped at base,
// from the file at path, readable through its handle (base).
void AddMappedImage(platform::HMODULE base, const std::string& path);
// Makes a module, a mapped image, the calling process's launcher:
// LauncherModule and GetModuleHandleW(nullptr) in that process give it until Reset.
void SetLauncherModule(platform::HMODULE module);

// A library a test installs. LoadLibraryW finds it by its full path (case
// ignored), or by its file name alone when it lies in the launcher's folder
// (SetLauncherPath) or in \Windows, the device's search; a path without a
// folder is where no search looks (the device has no current directory).
struct Library {
    std::u16string path;                               // where it lies: "\\Windows\\Kel.dll"
    std::map<std::string, platform::FARPROC> exports;  // routine name -> address
    // When set, run at the first LoadLibraryW that finds the library, before
    // its exports are read: a loader of real images maps it there and fills
    // the exports (and its handle). False fails that load (and the next one tries again).
    std::function<bool(Library*)> load = nullptr;
    // Its handle once loaded: a mapped image's base; null: one made up.
    platform::HMODULE handle = nullptr;
};
// Makes a library loadable; returns the handle LoadLibraryW will give for it
// (unless its load gives it a handle of its own).
platform::HMODULE InstallLibrary(const Library& library);
// How often a library is loaded right now (LoadLibraryW minus FreeLibrary).
int LoadCount(platform::HMODULE library);

// ---------------------------------------------------------------- registry

// A stored value: its type and raw bytes.
struct RegistryValue {
    platform::DWORD type;
    std::string bytes;
};
// Sets a value under root\path (creating the keys); an empty name is the default value.
void SetRegistryValue(platform::HKEY root, const std::u16string& path, const std::u16string& name,
                      platform::DWORD type, const std::string& bytes);
// Sets a REG_SZ value holding text and its NUL, as Windows stores it.
void SetRegistryString(platform::HKEY root, const std::u16string& path, const std::u16string& name,
                       const std::u16string& text);
// A value, when it exists.
std::optional<RegistryValue> GetRegistryValue(platform::HKEY root, const std::u16string& path,
                                              const std::u16string& name);
// A REG_SZ value as text without its terminating NUL, when it exists.
std::optional<std::u16string> GetRegistryString(platform::HKEY root, const std::u16string& path,
                                                const std::u16string& name);
// Whether a key exists.
bool RegistryKeyExists(platform::HKEY root, const std::u16string& path);
// Registry keys opened and not yet closed.
int OpenKeyCount();

// ---------------------------------------------------------------- failures and the call log

// Makes the nth call (1-based, counted from now) of an operation fail, for count calls (-1: forever).
void Fail(const std::string& operation, int nth = 1, int count = 1);
// Every platform call so far, in order, with its arguments:
// Operation("text", 12, 0x10000000, null, ptr, window:KEL_SPLASH, ...), where
// a handle is named by what it stands for ("bad" for what is none), a
// pointer to a buffer or record is ptr, and none is null.
std::vector<std::string> CallLog();
// The calls one thread made, in order: a thread CreateThread started, or for
// 0 every other thread (the test's own) but `except`, so that threads running
// side by side give the same logs whichever of them ran first. Any other id
// (CallingThread's) gives that thread's calls.
std::vector<std::string> CallLogOf(platform::DWORD threadId, platform::DWORD except = 0);
// The calling thread's id in the log.
platform::DWORD CallingThread();
// How many times an operation was called: entries equal to what is given, or
// beginning with it and "(" (so "send" counts every send).
int CallCount(const std::string& operation);

// ---------------------------------------------------------------- what the user would see

// A message box that was shown.
struct MessageBox {
    std::u16string text;
    std::u16string caption;
    platform::UINT type;
    platform::HWND owner;
};
std::vector<MessageBox> MessageBoxes();
// Every text sent to OutputDebugStringW.
std::vector<std::u16string> Traces();

// ---------------------------------------------------------------- windows and messages

// A message posted to a window.
struct PostedMessage {
    platform::UINT message;
    platform::WPARAM wParam;
    platform::LPARAM lParam;
};
// Stands in for another process's top-level window of the given class; it records what it is posted.
platform::HWND AddForeignWindow(const std::u16string& className);
// Messages posted to a foreign window, in order.
std::vector<PostedMessage> PostedMessages(platform::HWND window);
// The window last brought to the foreground, or null.
platform::HWND ForegroundWindow();

// ---------------------------------------------------------------- screen, GDI, threads (splash)

// The screen GetSystemMetrics reports and BitBlt draws on; 240 x 320 after Reset.
// Setting it clears the screen to the desktop colour.
void SetScreenSize(int width, int height);
// What a person sees on the screen before any window paints (0x00RRGGBB).
constexpr uint32_t kDesktopColour = 0x003A6EA5;
// A screen pixel as 0x00RRGGBB; 0xFFFFFFFF outside the screen.
uint32_t ScreenPixel(int x, int y);

// A window made by CreateWindowExW, as the simulation keeps it.
struct WindowInfo {
    std::u16string className;
    std::u16string title;
    platform::DWORD style;
    platform::DWORD exStyle;
    int x, y, width, height;
    platform::HWND parent;
    platform::HMENU menu;
    platform::HINSTANCE instance;
    platform::DWORD threadId;     // the creating thread, whose queue gets its messages
    bool alive;                   // false once destroyed (DestroyWindow, or WM_CLOSE's default handling)
    int paints;                   // BeginPaint calls
    platform::DWORD processId;    // the creating thread's process: 0, the first, unless a loader ran another
};
// Windows made by CreateWindowExW since Reset, alive or not, in order of creation.
std::vector<platform::HWND> CreatedWindows();
// One of them, alive or not; nothing for an unknown handle or a foreign window.
std::optional<WindowInfo> GetWindowInfo(platform::HWND window);
// Marks a window as uncovered: its thread gets a WM_PAINT once its queue is empty.
bool InvalidateWindow(platform::HWND window);

// A window class as RegisterClassW stored it.
struct ClassInfo {
    platform::UINT style;
    platform::WNDPROC procedure;
    int classExtra;
    int windowExtra;
    platform::HINSTANCE instance;
    platform::HICON icon;
    platform::HCURSOR cursor;
    platform::HBRUSH background;
    bool hasMenuName;
};
// A class by name (case ignored) as the calling process has it: its own, or a system class.
std::optional<ClassInfo> GetClassInfo(const std::u16string& className);
// What DefWindowProcW returns from now on, for every message (0 after Reset).
void SetDefWindowProcResult(platform::LRESULT result);

// Posts a message to a thread's queue, as the engine does to end the splash
// thread's loop with WM_QUIT; false when the thread has ended.
bool PostThreadMessage(platform::DWORD threadId, platform::UINT message, platform::WPARAM wParam = 0,
                       platform::LPARAM lParam = 0);
// Threads started by CreateThread since Reset, in order.
std::vector<platform::DWORD> StartedThreads();
// Waits up to timeoutMs (real time) for a started thread to end; its exit code when it did.
std::optional<platform::DWORD> WaitForThreadEnd(platform::DWORD threadId, int timeoutMs);
// Timed waits (WaitForSingleObject) last milliseconds / factor of real time, so a
// test sees a long time-out run out without sleeping it; 1 after Reset.
void SetWaitSpeedup(int factor);

// A bitmap section as CreateDIBSection made it.
struct SectionInfo {
    int32_t width = 0;
    int32_t height = 0;                   // positive: bottom-up rows
    platform::WORD bitCount = 0;
    uint32_t stride = 0;
    std::vector<platform::RGBQUAD> palette;
    std::vector<uint8_t> bits;            // a copy of its pixel memory
};
// A section by handle; nothing for another object.
std::optional<SectionInfo> GetSectionInfo(platform::HBITMAP bitmap);
// The byte new sections' pixel memory is filled with (0 after Reset, as on Windows),
// so a test can tell bytes written from bytes left alone.
void SetSectionFill(uint8_t byte);
// Device contexts made and not yet deleted or released.
int OpenDCCount();

// ---------------------------------------------------------------- sockets (relay)
//
// The socket operations are real POSIX sockets, limited to the loopback
// address; a listener stands in for a running engine.

// Starts a listener on 127.0.0.1 (replacing any earlier one) and returns its
// port. It accepts connections one after the other and records each one's
// bytes until the peer closes; it never answers.
platform::WORD Listen();
// The bytes of each connection the listener saw closed, in order. Waits up to
// timeoutMs for at least `connections` of them and returns what it has then.
std::vector<std::string> Received(size_t connections, int timeoutMs = 2000);
// A loopback port nothing listens on: a connection there is refused.
platform::WORD UnusedPort();
// From now on every send passes at most bytes of what it is given (-1: all), to produce short counts.
void LimitSend(int bytes);
// Successful WSAStartup and WSACleanup calls.
int SocketLayerStarts();
int SocketLayerCleanups();
// Sockets created and not yet closed.
int OpenSocketCount();
// Every linger record set on a socket (SOL_SOCKET, SO_LINGER), in order.
std::vector<platform::LINGER> LingerSettings();

}  // namespace sim
