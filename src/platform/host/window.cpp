// Windows and messages: top-level windows by class, foreign windows that
// stand in for other processes, message boxes and the debug trace.
#include <list>
#include <vector>

#include "platform/host/world.h"

namespace sim {
namespace {

using internal::Mutex;
using internal::Upper;

struct Window {
    std::u16string className;
    std::u16string title;
    bool foreign = false;                // another process's window: it only records what it is posted
    bool alive = true;
    std::vector<PostedMessage> posted;
};

struct Windows {
    std::list<Window> windows;   // a list keeps the handles stable
    platform::HWND foreground = nullptr;
    std::vector<MessageBox> boxes;
    std::vector<std::u16string> traces;
};

Windows& State() {
    static Windows windows;
    return windows;
}

Window* Find(platform::HWND handle) {
    for (auto& window : State().windows) {
        if (reinterpret_cast<platform::HWND>(&window) == handle && window.alive) return &window;
    }
    return nullptr;
}

}  // namespace

namespace internal {
void ResetWindows() { State() = Windows(); }
}  // namespace internal

platform::HWND AddForeignWindow(const std::u16string& className, const std::u16string& title) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    Window window;
    window.className = className;
    window.title = title;
    window.foreign = true;
    State().windows.push_back(window);
    return reinterpret_cast<platform::HWND>(&State().windows.back());
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
        if (!window.alive) continue;
        // Class names match without regard to case; window names exactly.
        if (className != nullptr && Upper(window.className) != Upper(className)) continue;
        if (windowName != nullptr && window.title != windowName) continue;
        return reinterpret_cast<HWND>(&window);
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
    target->posted.push_back({message, wParam, lParam});
    return TRUE;
}

}  // namespace platform
