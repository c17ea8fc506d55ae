// Part of the simulation (see sim.h): windows and messages. Window
// classes, top-level windows owned by the thread that made them, per-thread
// message queues with a GetMessageW that blocks, paint messages, foreign
// windows that stand in for other processes, message boxes and the debug trace.
//
// As on Windows, a queue hands out posted messages first; only when none is
// waiting does a window of the thread that needs painting get a WM_PAINT,
// which comes again until BeginPaint validates it. Window procedures run
// without the world lock, so they may call back in and other threads go on
// meanwhile. No creation messages are sent: the launcher's procedure
// handles none; DestroyWindow sends WM_DESTROY, on which an engine ends its loop. GetMessageW's window and range filters are kept.
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <list>
#include <map>
#include <vector>

#include "world.h"

namespace sim {
namespace {

using internal::ClassMap;
using internal::Find;
using internal::FindOwn;
using internal::Handle;
using internal::Mutex;
using internal::OwnClass;
using internal::Text;
using internal::Upper;
using internal::Window;
using Lock = std::unique_lock<std::recursive_mutex>;

struct Desktop {
    std::list<Window> windows;   // a list keeps the handles stable
    ClassMap classes;
    std::map<platform::DWORD, std::deque<platform::MSG>> queues;
    platform::LRESULT defaultResult = 0;
    platform::HWND foreground = nullptr;
    std::vector<MessageBox> boxes;
    std::vector<std::u16string> traces;
};

Desktop& State() {
    static Desktop desktop;
    return desktop;
}

// A class as the calling process sees it: its own, else a system class.
ClassMap::iterator FindClass(const std::u16string& name) {
    auto& classes = State().classes;
    auto found = classes.find(OwnClass(name));
    return found != classes.end() ? found : classes.find({internal::kSystemClasses, Upper(name)});
}

// Any window, alive or not.
Window* FindAny(platform::HWND handle) {
    for (auto& window : State().windows) {
        if (Handle(window) == handle) return &window;
    }
    return nullptr;
}

// Whether GetMessageW's filters let a message through: a window filter
// takes that window's messages only (not the thread's own), a range takes
// the messages in it (0, 0: all), and WM_QUIT comes whatever the range.
bool Passes(const platform::MSG& message, platform::HWND window, platform::UINT first, platform::UINT last) {
    if (window != nullptr && message.hwnd != window) return false;
    if (first == 0 && last == 0) return true;
    return message.message == platform::WM_QUIT || (message.message >= first && message.message <= last);
}

// The next message for the calling thread that passes the filters, if one
// is there: posted ones first, then paints.
bool NextMessage(platform::DWORD thread, platform::MSG* out, platform::HWND filter = nullptr,
                 platform::UINT first = 0, platform::UINT last = 0) {
    auto& queue = State().queues[thread];
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (!Passes(*it, filter, first, last)) continue;
        *out = *it;
        queue.erase(it);
        return true;
    }
    for (auto& window : State().windows) {
        if (window.foreign || !window.info.alive || window.info.threadId != thread || !window.needsPaint) continue;
        platform::MSG paint{Handle(window), platform::WM_PAINT, 0, 0, 0, 0, 0};
        if (!Passes(paint, filter, first, last)) continue;
        *out = paint;
        return true;
    }
    return false;
}

// Styles the device lacks, which it does not take: no minimised, maximised
// or sizable windows, and of the extended ones no drag and drop, MDI, tool
// windows, transparency, layering, composition or left scroll bars (the
// device's headers mark the last ones as Windows 2000 and XP additions).
// The page lists what CE supports:
// https://learn.microsoft.com/en-us/previous-versions/windows/embedded/ms908193(v=msdn.10)
constexpr platform::DWORD kStylesLacking = 0x01000000u /* WS_MAXIMIZE */ | 0x20000000u /* WS_MINIMIZE */ |
                                           0x00040000u /* WS_THICKFRAME */;
constexpr platform::DWORD kExStylesLacking = 0x10u /* WS_EX_ACCEPTFILES */ | 0x20u /* WS_EX_TRANSPARENT */ |
                                             0x40u /* WS_EX_MDICHILD */ | 0x80u /* WS_EX_TOOLWINDOW */ |
                                             0x4000u /* WS_EX_LEFTSCROLLBAR */ | 0x40000u /* WS_EX_APPWINDOW */ |
                                             0x80000u /* WS_EX_LAYERED */ | 0x100000u /* WS_EX_NOINHERITLAYOUT */ |
                                             0x2000000u /* WS_EX_COMPOSITED */;
constexpr platform::DWORD kChild = 0x40000000u;   // WS_CHILD
constexpr uintptr_t kSystemColours = 31;            // system colour indices 0 to 30
constexpr uintptr_t kSystemColourFlag = 0x40000000;
constexpr platform::UINT kDestroyMessage = 0x0002;   // WM_DESTROY

}  // namespace

namespace internal {

void ResetWindows() { State() = Desktop(); }

std::list<Window>& Windows() { return State().windows; }

ClassMap& Classes() { return State().classes; }

ClassMap::key_type OwnClass(const std::u16string& name) { return {CurrentProcess(), Upper(name)}; }

Window* Find(platform::HWND handle) {
    Window* window = FindAny(handle);
    return window != nullptr && window->info.alive ? window : nullptr;
}

Window* FindOwn(platform::HWND handle) {
    Window* window = Find(handle);
    return window != nullptr && !window->foreign ? window : nullptr;
}

std::string WindowName(platform::HWND handle) {
    if (handle == nullptr) return "null";
    Window* window = FindAny(handle);
    if (window == nullptr) return "bad";
    std::string kind = window->foreign ? "foreign:" : window->info.alive ? "window:" : "destroyed:";
    return kind + testsupport::U8(window->info.className);
}

bool QueueMessage(platform::DWORD threadId, const platform::MSG& message) {
    if (!ThreadAlive(threadId)) return false;
    State().queues[threadId].push_back(message);
    Changed().notify_all();
    return true;
}

}  // namespace internal

platform::HWND AddForeignWindow(const std::u16string& className) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    Window window;
    window.info = WindowInfo{className, u"", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, 0, true, 0, 0};
    window.foreign = true;
    State().windows.push_back(window);
    return Handle(State().windows.back());
}

std::vector<PostedMessage> PostedMessages(platform::HWND window) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    Window* found = Find(window);
    return found ? found->posted : std::vector<PostedMessage>{};
}

platform::HWND ForegroundWindow() {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return State().foreground;
}

std::vector<MessageBox> MessageBoxes() {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return State().boxes;
}

std::vector<std::u16string> Traces() {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return State().traces;
}

std::vector<platform::HWND> CreatedWindows() {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    std::vector<platform::HWND> handles;
    for (auto& window : State().windows) {
        if (!window.foreign) handles.push_back(Handle(window));
    }
    return handles;
}

std::optional<WindowInfo> GetWindowInfo(platform::HWND handle) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    Window* window = FindAny(handle);
    if (window == nullptr || window->foreign) return std::nullopt;
    return window->info;
}

bool InvalidateWindow(platform::HWND handle) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    Window* window = FindOwn(handle);
    if (window == nullptr) return false;
    window->needsPaint = true;
    internal::Changed().notify_all();
    return true;
}

std::optional<ClassInfo> GetClassInfo(const std::u16string& className) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    auto found = FindClass(className);
    if (found == State().classes.end()) return std::nullopt;
    return found->second;
}

void SetDefWindowProcResult(platform::LRESULT result) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    State().defaultResult = result;
}

bool PostThreadMessage(platform::DWORD threadId, platform::UINT message, platform::WPARAM wParam,
                       platform::LPARAM lParam) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return internal::QueueMessage(threadId, platform::MSG{nullptr, message, wParam, lParam, 0, 0, 0});
}

}  // namespace sim

namespace platform {

using sim::internal::Enter;
using sim::internal::Mutex;
using sim::internal::Text;
using sim::internal::Upper;

// The device's pages for what follows:
// MessageBox https://learn.microsoft.com/en-us/previous-versions/ms961235(v=msdn.10)
// CreateWindowEx https://learn.microsoft.com/en-us/previous-versions/windows/embedded/ms908193(v=msdn.10)
// GetMessage https://learn.microsoft.com/en-us/previous-versions/windows/embedded/aa453135(v=msdn.10)
// PostMessage https://library.thedatadungeon.com/msdn-1998-06/CEGuide/devdoc/good/wince/window_4pir.content.htm

int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::Args args;
    args.Name(sim::internal::WindowName(owner)).Text(text).Text(caption).Flags(type);
    if (Enter("MessageBoxW", args)) return 0;
    sim::State().boxes.push_back({Text(text), Text(caption), type, owner});
    return 1;   // IDOK
}

void OutputDebugStringW(const char16_t* text) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    Enter("OutputDebugStringW", sim::Args().Text(text));
    sim::State().traces.push_back(Text(text));
}

HWND FindWindowW(const char16_t* className, const char16_t* windowName) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("FindWindowW", sim::Args().Text(className).Text(windowName))) return nullptr;
    for (auto& window : sim::State().windows) {
        // Class names match without regard to case; window names exactly.
        if (!window.info.alive || Upper(window.info.className) != Upper(Text(className))) continue;
        if (windowName != nullptr && window.info.title != windowName) continue;
        return sim::Handle(window);
    }
    return nullptr;
}

BOOL SetForegroundWindow(HWND window) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("SetForegroundWindow", sim::Args().Name(sim::internal::WindowName(window)))) return FALSE;
    if (sim::Find(window) == nullptr) return FALSE;
    sim::State().foreground = window;
    return TRUE;
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::Args args;
    args.Name(sim::internal::WindowName(window)).Number(message).Number(static_cast<int64_t>(wParam)).Number(lParam);
    if (Enter("PostMessageW", args)) return FALSE;
    sim::Window* target = sim::Find(window);
    if (target == nullptr) return FALSE;
    if (target->foreign) {
        target->posted.push_back({message, wParam, lParam});
        return TRUE;
    }
    return sim::internal::QueueMessage(target->info.threadId, MSG{window, message, wParam, lParam, 0, 0, 0})
               ? TRUE
               : FALSE;
}

// Classes are each process's own. The launcher registers its one class once
// per process, so a name is not checked for being taken.
ATOM RegisterClassW(const WNDCLASSW* windowClass) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::Args args;
    args.Flags(windowClass->style).Pointer(reinterpret_cast<const void*>(windowClass->lpfnWndProc));
    args.Number(windowClass->cbClsExtra).Number(windowClass->cbWndExtra);
    args.Name(sim::internal::ModuleName(windowClass->hInstance)).Pointer(windowClass->hIcon);
    // A class background may also be a system colour, its index plus one
    // (WNDCLASS); the device's indices carry SYS_COLOR_INDEX_FLAG.
    auto colour = reinterpret_cast<uintptr_t>(windowClass->hbrBackground) & ~sim::kSystemColourFlag;
    args.Pointer(windowClass->hCursor)
        .Name(colour >= 1 && colour <= sim::kSystemColours ? "colour:" + std::to_string(colour - 1)
                                                           : sim::internal::ObjectName(windowClass->hbrBackground));
    args.Text(windowClass->lpszMenuName).Text(windowClass->lpszClassName);
    if (Enter("RegisterClassW", args)) return 0;
    sim::State().classes[sim::OwnClass(windowClass->lpszClassName)] =
        sim::ClassInfo{windowClass->style,      windowClass->lpfnWndProc, windowClass->cbClsExtra,
                       windowClass->cbWndExtra, windowClass->hInstance,   windowClass->hIcon,
                       windowClass->hCursor,    windowClass->hbrBackground, windowClass->lpszMenuName != nullptr};
    return static_cast<ATOM>(0xC000 + sim::State().classes.size());
}

// A style the device lacks fails the window. A parent must be a window; a
// child needs one, and a window that is no child takes no menu (there are
// no menus here). The class is looked up with the instance as Wine does: a
// class registered by one instance is not found for another.
HWND CreateWindowExW(DWORD exStyle, const char16_t* className, const char16_t* windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::Args args;
    args.Flags(exStyle).Text(className).Text(windowName).Flags(style).Number(x).Number(y).Number(width);
    args.Number(height).Name(sim::internal::WindowName(parent)).Name(menu != nullptr ? "bad" : "null");
    args.Name(sim::internal::ModuleName(instance)).Pointer(param);
    if (Enter("CreateWindowExW", args)) return nullptr;
    auto found = sim::FindClass(Text(className));
    if (found == sim::State().classes.end()) return nullptr;
    if ((style & sim::kStylesLacking) != 0 || (exStyle & sim::kExStylesLacking) != 0) return nullptr;
    if (parent != nullptr && sim::Find(parent) == nullptr) return nullptr;
    if ((style & sim::kChild) != 0 ? parent == nullptr : menu != nullptr) return nullptr;
    if (instance != nullptr && found->second.instance != nullptr && instance != found->second.instance) {
        return nullptr;
    }
    // Negative sizes are none, as Wine takes them.
    if (width < 0) width = 0;
    if (height < 0) height = 0;
    sim::Window window;
    window.info = sim::WindowInfo{Text(className), Text(windowName), style,  exStyle,  x,        y,
                                  width,           height,           parent, menu,     instance,
                                  sim::internal::CurrentThreadId(),  true,   0,
                                  sim::internal::CurrentProcess()};
    window.procedure = found->second.procedure;
    // A window shown at creation is painted once its thread's queue is empty.
    window.needsPaint = (style & WS_VISIBLE) != 0;
    sim::State().windows.push_back(window);
    return sim::Handle(sim::State().windows.back());
}

// The window is gone: it and then its children get WM_DESTROY, on this
// thread, as the device sends it; nothing more is delivered to them, and
// their screen area shows the desktop again. Only the window's own thread
// destroys it.
BOOL DestroyWindow(HWND handle) {
    sim::Lock lock(Mutex());
    if (Enter("DestroyWindow", sim::Args().Name(sim::internal::WindowName(handle)))) return FALSE;
    sim::Window* window = sim::FindOwn(handle);
    if (window == nullptr) return FALSE;
    if (window->info.threadId != sim::internal::CurrentThreadId()) return FALSE;
    std::vector<HWND> family{handle};
    for (size_t i = 0; i < family.size(); ++i) {
        for (auto& other : sim::State().windows) {
            if (other.info.alive && other.info.parent == family[i]) family.push_back(sim::Handle(other));
        }
    }
    for (HWND member : family) {
        sim::Window* w = sim::FindOwn(member);
        if (w == nullptr) continue;
        WNDPROC procedure = w->procedure;
        lock.unlock();
        procedure(member, sim::kDestroyMessage, 0, 0);
        lock.lock();
    }
    for (HWND member : family) {
        sim::Window* w = sim::FindOwn(member);
        if (w == nullptr) continue;
        w->info.alive = false;
        w->needsPaint = false;
        sim::internal::FillScreen(w->info.x, w->info.y, w->info.width, w->info.height, sim::kDesktopColour);
    }
    return TRUE;
}

// Returns what SetDefWindowProcResult set; a WM_CLOSE destroys the window, as on Windows.
LRESULT DefWindowProcW(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::Args args;
    args.Name(sim::internal::WindowName(handle)).Number(message).Number(static_cast<int64_t>(wParam)).Number(lParam);
    Enter("DefWindowProcW", args);
    if (message == WM_CLOSE) DestroyWindow(handle);
    // A paint nobody draws still validates the window, or WM_PAINT would come forever.
    if (message == WM_PAINT) {
        if (sim::Window* window = sim::FindOwn(handle)) window->needsPaint = false;
    }
    return sim::State().defaultResult;
}

// Blocks until a message that passes the filters arrives; the wait lets go
// of the world lock. A window filter that is no window of the thread is an
// error (-1).
BOOL GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax) {
    sim::Lock lock(Mutex());
    sim::Args args;
    args.Pointer(message).Name(sim::internal::WindowName(window)).Number(filterMin).Number(filterMax);
    if (Enter("GetMessageW", args)) return -1;
    DWORD thread = sim::internal::CurrentThreadId();
    if (window != nullptr) {
        sim::Window* own = sim::FindOwn(window);
        if (own == nullptr || own->info.threadId != thread) return -1;
    }
    while (!sim::NextMessage(thread, message, window, filterMin, filterMax)) sim::internal::Changed().wait(lock);
    return message->message == WM_QUIT ? 0 : 1;
}

BOOL TranslateMessage(const MSG* message) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    Enter("TranslateMessage", sim::Args().Name(sim::internal::WindowName(message->hwnd)).Number(message->message));
    // There is no keyboard in the simulation, so no key message to translate.
    return FALSE;
}

LRESULT DispatchMessageW(const MSG* message) {
    sim::Lock lock(Mutex());
    sim::Args args;
    args.Name(sim::internal::WindowName(message->hwnd)).Number(message->message);
    args.Number(static_cast<int64_t>(message->wParam)).Number(message->lParam);
    if (Enter("DispatchMessageW", args)) return 0;
    sim::Window* window = sim::FindOwn(message->hwnd);
    // Thread messages (no window) have nobody to go to.
    if (window == nullptr) return 0;
    WNDPROC procedure = window->procedure;
    lock.unlock();
    return procedure(message->hwnd, message->message, message->wParam, message->lParam);
}

HDC BeginPaint(HWND handle, PAINTSTRUCT* paint) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("BeginPaint", sim::Args().Name(sim::internal::WindowName(handle)).Pointer(paint))) return nullptr;
    sim::Window* window = sim::FindOwn(handle);
    if (window == nullptr) return nullptr;
    const sim::WindowInfo& info = window->info;
    *paint = PAINTSTRUCT{};
    paint->hdc = sim::internal::CreateWindowDC(info.x, info.y, info.width, info.height);
    paint->rcPaint = RECT{0, 0, info.width, info.height};
    window->needsPaint = false;
    ++window->info.paints;
    return paint->hdc;
}

BOOL EndPaint(HWND handle, const PAINTSTRUCT* paint) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("EndPaint", sim::Args().Name(sim::internal::WindowName(handle)).Pointer(paint))) return FALSE;
    if (sim::FindOwn(handle) == nullptr) return FALSE;
    sim::internal::ReleaseWindowDC(paint->hdc);
    return TRUE;
}

}  // namespace platform
