// The one header through which the launcher reaches its platform.
//
// Every operation here carries its Windows CE name and Windows CE meaning;
// the build picks the backend that defines them: platform/win32 forwards to
// the real API, the simulation (tests/sim) is a small Windows for the tests.
// This header includes no system header and has no conditional code, so the
// same declarations are compiled against both backends. Text is char16_t,
// which is 16 bits everywhere (wchar_t is 32 bits on Linux).
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// ---------------------------------------------------------------- basic types

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef uint16_t ATOM;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;

// Opaque handles: the core never looks inside them.
struct ModuleTag;
typedef ModuleTag* HMODULE;    // a loaded module (the launcher itself, an engine library)
typedef HMODULE HINSTANCE;     // the instance handle is the module handle
struct ResourceTag;
typedef ResourceTag* HRSRC;    // a resource found in a module
struct KeyTag;
typedef KeyTag* HKEY;          // an open registry key
struct WindowTag;
typedef WindowTag* HWND;       // a window
struct MenuTag;
typedef MenuTag* HMENU;        // a menu (never used, always null)
struct GdiTag;
typedef GdiTag* HGDIOBJ;       // any GDI object
typedef HGDIOBJ HBITMAP;       // a bitmap section
typedef HGDIOBJ HBRUSH;        // a brush
struct DcTag;
typedef DcTag* HDC;            // a device context
struct IconTag;
typedef IconTag* HICON;        // an icon
typedef HICON HCURSOR;         // a cursor
struct KernelTag;
typedef KernelTag* HANDLE;     // a kernel object: thread, event
typedef uintptr_t SOCKET;      // a socket

typedef void (*FARPROC)();      // an exported routine, cast to its real type by the caller

// ---------------------------------------------------------------- constants

const BOOL TRUE = 1;
const BOOL FALSE = 0;

const LONG ERROR_SUCCESS = 0;

// Predefined registry roots carry their Windows values, sign-extended on
// 64-bit targets as Windows does, so the win32 backend passes them through.
static HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<intptr_t>(INT32_C(-2147483647) - 1));
static HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<intptr_t>(INT32_C(-2147483646)));

const DWORD REG_SZ = 1;
const DWORD REG_BINARY = 3;
const DWORD REG_DWORD = 4;

const UINT WM_PAINT = 0x000F;
const UINT WM_CLOSE = 0x0010;
const UINT WM_QUIT = 0x0012;
const UINT WM_USER = 0x0400;

const DWORD WS_POPUP = 0x80000000u;
const DWORD WS_VISIBLE = 0x10000000u;

const int SM_CXSCREEN = 0;
const int SM_CYSCREEN = 1;

const int WHITE_BRUSH = 0;
const DWORD SRCCOPY = 0x00CC0020u;
const UINT DIB_RGB_COLORS = 0;
const DWORD BI_RGB = 0;

const DWORD WAIT_OBJECT_0 = 0;
const DWORD WAIT_TIMEOUT = 258;
const DWORD WAIT_FAILED = 0xFFFFFFFFu;

const DWORD EVENT_SET = 3;

const int AF_INET = 2;
const int SOCK_STREAM = 1;
const int SOL_SOCKET = 0xFFFF;
const int SO_LINGER = 0x0080;
const SOCKET INVALID_SOCKET = ~static_cast<SOCKET>(0);
const int SOCKET_ERROR = -1;

const UINT MB_OK = 0;

// ---------------------------------------------------------------- records

// A message as GetMessageW fills it.
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    LONG ptX;
    LONG ptY;
};

// A rectangle in pixels.
struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

// What BeginPaint hands out; only hdc is used by the launcher.
struct PAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
    BOOL fRestore;
    BOOL fIncUpdate;
    BYTE rgbReserved[32];
};

// A window procedure.
typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);

// A window class as RegisterClassW takes it.
struct WNDCLASSW {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    const char16_t* lpszMenuName;
    const char16_t* lpszClassName;
};

// The 40-byte bitmap header, laid out as in a bitmap file.
struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40, "bitmap header is 40 bytes");

// One palette entry.
struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

// A bitmap header followed by its palette.
struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

// A thread routine.
typedef DWORD (*THREADPROC)(void* parameter);

// The socket layer's start-up record; its contents are the backend's. The
// wider members only give it the alignment of any record the backend keeps there.
union WSADATA {
    BYTE opaque[512];
    uint64_t alignment;
    void* pointer;
};

// An IPv4 socket address, 16 bytes, in the layout the socket layer expects.
struct SOCKADDR_IN {
    int16_t sin_family;
    uint16_t sin_port;    // network byte order
    uint32_t sin_addr;    // network byte order
    char sin_zero[8];
};
static_assert(sizeof(SOCKADDR_IN) == 16, "IPv4 socket address is 16 bytes");

// The socket layer's linger record: two 16-bit fields, 4 bytes.
struct LINGER {
    uint16_t l_onoff;
    uint16_t l_linger;    // seconds
};
static_assert(sizeof(LINGER) == 4, "linger record is 4 bytes");

// ---------------------------------------------------------------- modules, resources, libraries

// The module of the given name, or of the running program for a null name.
HMODULE GetModuleHandleW(const char16_t* moduleName);
// The full path of a module; returns the characters written, without the NUL.
DWORD GetModuleFileNameW(HMODULE module, char16_t* path, DWORD size);
// Finds a resource by name and type (either may be an integer id below 0x10000); letter case is ignored.
HRSRC FindResourceW(HMODULE module, const char16_t* name, const char16_t* type);
// The address of a found resource's bytes; addressable at once, never released.
const void* LoadResource(HMODULE module, HRSRC resource);
// The size in bytes of a found resource.
DWORD SizeofResource(HMODULE module, HRSRC resource);
// Loads a library by name or path under the platform's search rules.
HMODULE LoadLibraryW(const char16_t* fileName);
// Looks up an exported routine by its wide name.
FARPROC GetProcAddressW(HMODULE module, const char16_t* procName);
// Unloads a library.
BOOL FreeLibrary(HMODULE module);

// ---------------------------------------------------------------- registry

// Opens an existing key.
LONG RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD options, DWORD access, HKEY* result);
// Opens a key, creating it (and its parents) when missing.
LONG RegCreateKeyExW(HKEY key, const char16_t* subKey, DWORD reserved, char16_t* keyClass, DWORD options,
                     DWORD access, void* security, HKEY* result, DWORD* disposition);
// Reads a value; with too small a buffer answers ERROR_MORE_DATA and reports the size needed.
LONG RegQueryValueExW(HKEY key, const char16_t* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
// Writes a value (null name: the key's default value).
LONG RegSetValueExW(HKEY key, const char16_t* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
// Closes an open key.
LONG RegCloseKey(HKEY key);

// ---------------------------------------------------------------- windows and messages

// Shows a message box and returns the button chosen.
int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type);
// Sends text to an attached debugger.
void OutputDebugStringW(const char16_t* text);
// Finds a top-level window by class name and, when given, window name; in any process.
HWND FindWindowW(const char16_t* className, const char16_t* windowName);
// Brings a window to the foreground.
BOOL SetForegroundWindow(HWND window);
// Posts a message to a window's queue without waiting.
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// A screen metric (SM_CXSCREEN, SM_CYSCREEN).
int GetSystemMetrics(int index);
// Registers a window class; returns its atom or 0.
ATOM RegisterClassW(const WNDCLASSW* windowClass);
// Creates a window owned by the calling thread.
HWND CreateWindowExW(DWORD exStyle, const char16_t* className, const char16_t* windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
// Destroys a window.
BOOL DestroyWindow(HWND window);
// The default handling of a message.
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Waits for the calling thread's next message; 0 on WM_QUIT, -1 on error.
BOOL GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax);
// Translates key messages into character messages.
BOOL TranslateMessage(const MSG* message);
// Hands a message to its window's procedure.
LRESULT DispatchMessageW(const MSG* message);

// ---------------------------------------------------------------- drawing

// Starts painting a window; the paint record's hdc draws into it.
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
// Ends painting.
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
// A device context for a driver ("DISPLAY").
HDC CreateDCW(const char16_t* driver, const char16_t* device, const char16_t* output, const void* initData);
// A device-independent bitmap section with pixel memory the caller fills.
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD offset);
// A memory context compatible with the given one.
HDC CreateCompatibleDC(HDC dc);
// Selects an object into a context; returns the one it replaces.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// Copies pixels from one context to another.
BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY, DWORD rop);
// Deletes a context.
BOOL DeleteDC(HDC dc);
// A stock object (WHITE_BRUSH).
HGDIOBJ GetStockObject(int object);

// ---------------------------------------------------------------- threads and events

// Starts a thread that runs routine(parameter).
HANDLE CreateThread(void* security, size_t stackSize, THREADPROC routine, void* parameter, DWORD flags,
                    DWORD* threadId);
// Creates an event.
HANDLE CreateEventW(void* security, BOOL manualReset, BOOL initialState, const char16_t* name);
// Waits for an object: WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
// Sets an event (EVENT_SET; the launcher neither resets nor pulses one).
BOOL EventModify(HANDLE event, DWORD function);

// ---------------------------------------------------------------- sockets

// Starts the socket layer; 0 on success.
int WSAStartup(WORD version, WSADATA* data);
// Shuts the socket layer down; 0 on success.
int WSACleanup();
// Creates a socket, or INVALID_SOCKET.
SOCKET socket(int family, int type, int protocol);
// Sets a socket option (SOL_SOCKET/SO_LINGER with a LINGER record).
int setsockopt(SOCKET s, int level, int option, const char* value, int length);
// Connects to an address; 0 or SOCKET_ERROR.
int connect(SOCKET s, const SOCKADDR_IN* address, int length);
// Sends bytes; the count sent or SOCKET_ERROR.
int send(SOCKET s, const char* data, int length, int flags);
// Closes a socket.
int closesocket(SOCKET s);
// A dotted IPv4 address in network byte order.
uint32_t inet_addr(const char* text);
// A port in network byte order.
uint16_t htons(uint16_t value);

}  // namespace platform
