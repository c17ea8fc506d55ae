// Windows and messages: window classes, top-level windows owned by the thread
// that made them, per-thread message queues with a GetMessageW that blocks,
// paint messages, foreign windows that stand in for other processes, message
// boxes and the debug trace.
//
// As on Windows, a queue hands out posted messages first; only when none is
// waiting does a window of the thread that needs painting get a WM_PAINT,
// which comes again until BeginPaint (or DefWindowProcW) validates it.
// Window procedures run without the world lock, so they may call back in and
// other threads go on meanwhile. No creation messages (WM_CREATE and the
// like) are sent; DestroyWindow sends WM_DESTROY.
#include <deque>
#include <list>
#include <map>
#include <vector>

#include "platform/host/world.h"

namespace sim {
namespace {

using internal::Mutex;
using internal::Upper;
using Lock = std::unique_lock<std::recursive_mutex>;

struct WindowClass {
    ClassInfo info;
    std::u16string name;
    platform::ATOM atom;
};

struct Window {
    WindowInfo info;
    bool foreign = false;                // another process's window: it only records what it is posted
    platform::WNDPROC procedure = nullptr;
    platform::HBRUSH background = nullptr;
    bool needsPaint = false;
    bool destroying = false;
    std::vector<PostedMessage> posted;   // foreign windows only
};

struct Windows {
    std::list<Window> windows;   // a list keeps the handles stable
    std::list<WindowClass> classes;
    std::map<platform::DWORD, std::deque<platform::MSG>> queues;
    platform::ATOM nextAtom = 0xC000;
    platform::LRESULT defaultResult = 0;
    platform::HWND foreground = nullptr;
    std::vector<MessageBox> boxes;
    std::vector<std::u16string> traces;
};

Windows& State() {
    static Windows windows;
    return windows;
}

platform::HWND Handle(Window& window) { return reinterpret_cast<platform::HWND>(&window); }

// Any window, alive or not.
Window* FindAny(platform::HWND handle) {
    for (auto& window : State().windows) {
        if (Handle(window) == handle) return &window;
    }
    return nullptr;
}

// A window that exists now.
Window* Find(platform::HWND handle) {
    Window* window = FindAny(handle);
    return window != nullptr && window->info.alive ? window : nullptr;
}

// A window of this process that exists now.
Window* FindOwn(platform::HWND handle) {
    Window* window = Find(handle);
    return window != nullptr && !window->foreign ? window : nullptr;
}

WindowClass* FindClass(const std::u16string& name, platform::HINSTANCE instance, bool anyInstance) {
    for (auto& entry : State().classes) {
        if (Upper(entry.name) == Upper(name) && (anyInstance || entry.info.instance == instance)) return &entry;
    }
    return nullptr;
}

std::u16string Number(uint64_t value) { return U16(std::to_string(value)); }

bool Matches(const platform::MSG& message, platform::HWND filter, platform::UINT low, platform::UINT high) {
    // WM_QUIT gets through any filter, so a loop that filters still ends.
    if (message.message == platform::WM_QUIT) return true;
    if (filter != nullptr && message.hwnd != filter) return false;
    if ((low != 0 || high != 0) && (message.message < low || message.message > high)) return false;
    return true;
}

// The next message for the calling thread, if one is there: posted ones first, then paints.
bool NextMessage(platform::DWORD thread, platform::HWND filter, platform::UINT low, platform::UINT high,
                 platform::MSG* out) {
    auto& queue = State().queues[thread];
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (!Matches(*it, filter, low, high)) continue;
        *out = *it;
        queue.erase(it);
        return true;
    }
    bool paintInRange = (low == 0 && high == 0) || (low <= platform::WM_PAINT && platform::WM_PAINT <= high);
    if (!paintInRange) return false;
    for (auto& window : State().windows) {
        if (window.foreign || !window.info.alive || window.info.threadId != thread || !window.needsPaint) continue;
        if ((window.info.style & platform::WS_VISIBLE) == 0) continue;
        if (filter != nullptr && Handle(window) != filter) continue;
        *out = platform::MSG{Handle(window), platform::WM_PAINT, 0, 0, 0, 0, 0};
        return true;
    }
    return false;
}

// The window is gone: nothing more is delivered to it, and its screen area shows the desktop again.
void Bury(Window& window) {
    window.info.alive = false;
    window.needsPaint = false;
    for (auto& entry : State().queues) {
        auto& queue = entry.second;
        for (auto it = queue.begin(); it != queue.end();) {
            it = it->hwnd == Handle(window) ? queue.erase(it) : it + 1;
        }
    }
    if (State().foreground == Handle(window)) State().foreground = nullptr;
    internal::FillScreen(window.info.x, window.info.y, window.info.width, window.info.height, kDesktopColour);
}

}  // namespace

namespace internal {

void ResetWindows() { State() = Windows(); }

bool QueueMessage(platform::DWORD threadId, const platform::MSG& message) {
    if (!ThreadAlive(threadId)) return false;
    State().queues[threadId].push_back(message);
    Changed().notify_all();
    return true;
}

void ThreadEnded(platform::DWORD threadId) {
    for (auto& window : State().windows) {
        if (!window.foreign && window.info.alive && window.info.threadId == threadId) Bury(window);
    }
    State().queues.erase(threadId);
}

}  // namespace internal

platform::HWND AddForeignWindow(const std::u16string& className, const std::u16string& title) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    Window window;
    window.info = WindowInfo{className, title, 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, 0, true, 0};
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
    WindowClass* entry = FindClass(className, nullptr, true);
    if (entry == nullptr) return std::nullopt;
    return entry->info;
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
using sim::internal::Upper;

int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("MessageBoxW", text ? text : u"")) return 0;
    sim::State().boxes.push_back({text ? text : u"", caption ? caption : u"", type, owner});
    return 1;   // IDOK
}

void OutputDebugStringW(const char16_t* text) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    Enter("OutputDebugStringW", text ? text : u"");
    sim::State().traces.push_back(text ? text : u"");
}

HWND FindWindowW(const char16_t* className, const char16_t* windowName) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("FindWindowW", className ? className : u"")) return nullptr;
    for (auto& window : sim::State().windows) {
        if (!window.info.alive) continue;
        // Class names match without regard to case; window names exactly.
        if (className != nullptr && Upper(window.info.className) != Upper(className)) continue;
        if (windowName != nullptr && window.info.title != windowName) continue;
        return sim::Handle(window);
    }
    return nullptr;
}

BOOL SetForegroundWindow(HWND window) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("SetForegroundWindow")) return FALSE;
    if (sim::Find(window) == nullptr) return FALSE;
    sim::State().foreground = window;
    return TRUE;
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("PostMessageW", sim::U16(std::to_string(message)))) return FALSE;
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

ATOM RegisterClassW(const WNDCLASSW* windowClass) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    const char16_t* name = windowClass != nullptr ? windowClass->lpszClassName : nullptr;
    if (Enter("RegisterClassW", name != nullptr ? name : u"")) return 0;
    if (name == nullptr || windowClass->lpfnWndProc == nullptr) return 0;
    // A class name is registered once per instance, as on Windows.
    if (sim::FindClass(name, windowClass->hInstance, false) != nullptr) return 0;
    sim::WindowClass entry;
    entry.name = name;
    entry.atom = sim::State().nextAtom++;
    entry.info = sim::ClassInfo{windowClass->style,         windowClass->lpfnWndProc, windowClass->cbClsExtra,
                                windowClass->cbWndExtra,    windowClass->hInstance,   windowClass->hIcon,
                                windowClass->hCursor,       windowClass->hbrBackground,
                                windowClass->lpszMenuName != nullptr,
                                windowClass->lpszMenuName != nullptr ? windowClass->lpszMenuName : u""};
    sim::State().classes.push_back(entry);
    return entry.atom;
}

HWND CreateWindowExW(DWORD exStyle, const char16_t* className, const char16_t* windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void*) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("CreateWindowExW", className != nullptr ? className : u"")) return nullptr;
    if (className == nullptr) return nullptr;
    sim::WindowClass* entry = sim::FindClass(className, instance, false);
    if (entry == nullptr) return nullptr;
    sim::Window window;
    window.info = sim::WindowInfo{entry->name, windowName != nullptr ? windowName : u"", style, exStyle, x, y, width,
                                  height, parent, menu, instance, sim::internal::CurrentThreadId(), true, 0};
    window.procedure = entry->info.procedure;
    window.background = entry->info.background;
    // A window shown at creation is painted once its thread's queue is empty.
    window.needsPaint = (style & WS_VISIBLE) != 0;
    sim::State().windows.push_back(window);
    sim::internal::Changed().notify_all();
    return sim::Handle(sim::State().windows.back());
}

BOOL DestroyWindow(HWND handle) {
    sim::Lock lock(Mutex());
    if (Enter("DestroyWindow")) return FALSE;
    sim::Window* window = sim::FindOwn(handle);
    // Only the thread that made a window may destroy it.
    if (window == nullptr || window->destroying || window->info.threadId != sim::internal::CurrentThreadId()) {
        return FALSE;
    }
    window->destroying = true;
    WNDPROC procedure = window->procedure;
    lock.unlock();
    procedure(handle, WM_DESTROY, 0, 0);
    lock.lock();
    sim::Bury(*window);
    sim::internal::Changed().notify_all();
    return TRUE;
}

LRESULT DefWindowProcW(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    sim::Lock lock(Mutex());
    Enter("DefWindowProcW", sim::Number(message));
    (void)wParam;
    (void)lParam;
    LRESULT result = sim::State().defaultResult;
    sim::Window* window = sim::FindOwn(handle);
    if (window == nullptr) return result;
    if (message == WM_PAINT) {
        // The default paint validates the window, so WM_PAINT stops coming.
        window->needsPaint = false;
    } else if (message == WM_CLOSE) {
        lock.unlock();
        DestroyWindow(handle);
    }
    return result;
}

BOOL GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax) {
    sim::Lock lock(Mutex());
    if (Enter("GetMessageW")) return -1;
    if (message == nullptr || (window != nullptr && sim::FindOwn(window) == nullptr)) return -1;
    DWORD thread = sim::internal::CurrentThreadId();
    // Blocks until a message arrives; the wait lets go of the world lock.
    while (!sim::NextMessage(thread, window, filterMin, filterMax, message)) {
        sim::internal::Changed().wait(lock);
    }
    return message->message == WM_QUIT ? 0 : 1;
}

BOOL TranslateMessage(const MSG* message) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    Enter("TranslateMessage", message != nullptr ? sim::Number(message->message) : u"");
    // There is no keyboard in the simulation, so no key message to translate.
    return FALSE;
}

LRESULT DispatchMessageW(const MSG* message) {
    sim::Lock lock(Mutex());
    if (Enter("DispatchMessageW", message != nullptr ? sim::Number(message->message) : u"")) return 0;
    if (message == nullptr) return 0;
    sim::Window* window = sim::FindOwn(message->hwnd);
    // Thread messages (no window) have nobody to go to.
    if (window == nullptr) return 0;
    WNDPROC procedure = window->procedure;
    lock.unlock();
    return procedure(message->hwnd, message->message, message->wParam, message->lParam);
}

HDC BeginPaint(HWND handle, PAINTSTRUCT* paint) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("BeginPaint")) return nullptr;
    sim::Window* window = sim::FindOwn(handle);
    if (window == nullptr || paint == nullptr) return nullptr;
    const sim::WindowInfo& info = window->info;
    // The background is erased with the class brush before the window draws;
    // with no brush the window is told to erase it itself.
    uint32_t colour = 0;
    bool erased = sim::internal::BrushColour(window->background, &colour);
    if (erased) sim::internal::FillScreen(info.x, info.y, info.width, info.height, colour);
    *paint = PAINTSTRUCT{};
    paint->hdc = sim::internal::CreateWindowDC(info.x, info.y, info.width, info.height);
    paint->fErase = erased ? FALSE : TRUE;
    paint->rcPaint = RECT{0, 0, info.width, info.height};
    window->needsPaint = false;
    ++window->info.paints;
    return paint->hdc;
}

BOOL EndPaint(HWND handle, const PAINTSTRUCT* paint) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("EndPaint")) return FALSE;
    if (sim::FindOwn(handle) == nullptr || paint == nullptr) return FALSE;
    sim::internal::ReleaseWindowDC(paint->hdc);
    return TRUE;
}

}  // namespace platform
