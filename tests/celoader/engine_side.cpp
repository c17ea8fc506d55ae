// The device calls an engine makes beyond the launcher's, on the
// simulation's world (engine_side.h): processes, window enumeration and what
// it reads of a window, the edit control, text conversion, icons and cursors.
//
// The device's pages for what follows:
// EnumWindows https://learn.microsoft.com/en-us/previous-versions/windows/embedded/aa453032(v=msdn.10)
// GetClassName, GetWindowThreadProcessId, GetDlgItem, GetWindowLong, ShowWindow, UpdateWindow, MoveWindow,
// SendMessage, PostThreadMessage, PostQuitMessage, UnregisterClass, LoadIcon, LoadCursor: the window
// manager's reference for Windows CE (ms908193 and its siblings).
#include "engine_side.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <vector>

#include "world.h"

namespace celoader {
namespace {

using platform::BOOL;
using platform::DWORD;
using platform::FALSE;
using platform::HWND;
using platform::TRUE;
using platform::UINT;
using sim::Args;
using sim::internal::Changed;
using sim::internal::Classes;
using sim::internal::CurrentThreadId;
using sim::internal::Enter;
using sim::internal::Find;
using sim::internal::FindOwn;
using sim::internal::Handle;
using sim::internal::ModuleName;
using sim::internal::Mutex;
using sim::internal::OwnClass;
using sim::internal::QueueMessage;
using sim::internal::Text;
using sim::internal::Upper;
using sim::internal::Window;
using sim::internal::WindowName;
using sim::internal::Windows;
using Lock = std::unique_lock<std::recursive_mutex>;

// The first process's id: this program's own as it started, so that a run
// in a forked child (a planted fault's) reports the same ids as its parent's.
const DWORD g_firstProcess = static_cast<DWORD>(getpid());
// Far above any Linux process id, so a started process is never taken for the first.
std::atomic<DWORD> g_nextProcess{0x40000001};

// A process of the world (0: the first) by the id the device gives it.
DWORD IdOf(DWORD process) { return process != 0 ? process : g_firstProcess; }

// A foreign window stands for another process: its thread and process are none of this one's.
constexpr DWORD kForeignProcess = 0x7FFF0000u;
constexpr DWORD kForeignThread = 0x7FFE0000u;

constexpr UINT kSize = 0x0005;   // WM_SIZE

// Calls a window's procedure on the calling thread, without the lock.
platform::LRESULT Deliver(Lock& lock, Window* window, HWND handle, UINT message, platform::WPARAM wParam,
                          platform::LPARAM lParam) {
    platform::WNDPROC procedure = window->procedure;
    lock.unlock();
    platform::LRESULT result = procedure(handle, message, wParam, lParam);
    lock.lock();
    return result;
}

// An edit control's selection (EM_SETSEL), by window; under the world's lock.
struct Selection {
    size_t start = 0;
    size_t end = 0;
};
std::map<HWND, Selection> g_selections;

// The edit control: its text is the window's text; EM_SETSEL selects units,
// EM_REPLACESEL puts text in place of the selection and leaves the caret after it.
platform::LRESULT EditProcedure(HWND handle, UINT message, platform::WPARAM wParam, platform::LPARAM lParam) {
    constexpr UINT kSetSelection = 0x00B1, kReplaceSelection = 0x00C2;
    if (message != kSetSelection && message != kReplaceSelection) {
        return platform::DefWindowProcW(handle, message, wParam, lParam);
    }
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    Window* window = FindOwn(handle);
    if (window == nullptr) return 0;
    std::u16string& text = window->info.title;
    Selection& selection = g_selections[handle];
    if (message == kSetSelection) {
        // -1 as the start takes the selection away; anything past the end is the end.
        auto start = static_cast<int32_t>(wParam), end = static_cast<int32_t>(lParam);
        size_t from = start < 0 ? text.size() : std::min(static_cast<size_t>(start), text.size());
        size_t to = end < 0 ? text.size() : std::min(static_cast<size_t>(end), text.size());
        selection.start = std::min(from, to);
        selection.end = start < 0 ? selection.start : std::max(from, to);
        return 0;
    }
    std::u16string replacement = Text(reinterpret_cast<const char16_t*>(lParam));
    text.replace(selection.start, selection.end - selection.start, replacement);
    selection.start = selection.end = selection.start + replacement.size();
    return 0;
}

// The device's own control classes a window may be made of without
// registering them; of those, only the edit control is here. A class with no
// instance is a system class: any instance makes windows of it. A world that
// Reset made afresh has it again, and no edit control's selection.
void AddEditControl() {
    g_selections.clear();
    Classes()[{sim::internal::kSystemClasses, u"EDIT"}] =
        sim::ClassInfo{0, EditProcedure, 0, 0, nullptr, nullptr, nullptr, nullptr, false};
}
const bool g_editControlAdded = (sim::internal::OnReset(AddEditControl), true);

}  // namespace

DWORD CurrentProcessId() { return IdOf(sim::internal::CurrentProcess()); }

DWORD FirstProcessId() { return g_firstProcess; }

DWORD StartProcess() {
    DWORD process = g_nextProcess++;
    sim::internal::EnterProcess(process);
    return process;
}

void EnterProcess(DWORD process) { sim::internal::EnterProcess(process == g_firstProcess ? 0 : process); }

namespace engine {

BOOL EnumWindows(WNDENUMPROC callback, platform::LPARAM parameter) {
    Lock lock(Mutex());
    if (Enter("EnumWindows", Args().Pointer(reinterpret_cast<const void*>(callback)).Number(parameter))) return FALSE;
    if (callback == nullptr) return FALSE;
    std::vector<HWND> windows;
    for (auto& window : Windows()) {
        if (window.info.alive && window.info.parent == nullptr) windows.insert(windows.begin(), Handle(window));
    }
    for (HWND handle : windows) {
        if (Find(handle) == nullptr) continue;   // gone while an earlier callback ran
        lock.unlock();
        BOOL more = callback(handle, parameter);
        lock.lock();
        if (!more) return FALSE;
    }
    return TRUE;
}

int GetClassNameW(HWND handle, char16_t* name, int size) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("GetClassNameW", Args().Name(WindowName(handle)).Pointer(name).Number(size))) return 0;
    Window* window = Find(handle);
    if (window == nullptr || name == nullptr || size <= 0) return 0;
    size_t units = std::min(window->info.className.size(), static_cast<size_t>(size - 1));
    std::copy_n(window->info.className.begin(), units, name);
    name[units] = 0;
    return static_cast<int>(units);
}

DWORD GetWindowThreadProcessId(HWND handle, DWORD* process) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("GetWindowThreadProcessId", Args().Name(WindowName(handle)).Pointer(process))) return 0;
    Window* window = Find(handle);
    if (window == nullptr) return 0;
    if (process != nullptr) *process = window->foreign ? kForeignProcess : IdOf(window->info.processId);
    return window->foreign ? kForeignThread : window->info.threadId;
}

BOOL PostThreadMessageW(DWORD thread, UINT message, platform::WPARAM wParam, platform::LPARAM lParam) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    Args args;
    args.Name(thread == kForeignThread ? "foreign thread" : "thread").Number(message);
    args.Number(static_cast<int64_t>(wParam)).Number(lParam);
    if (Enter("PostThreadMessageW", args)) return FALSE;
    // Another process's thread is out of reach here; a thread that ended has no queue.
    if (thread == kForeignThread || thread == 0) return FALSE;
    return QueueMessage(thread, platform::MSG{nullptr, message, wParam, lParam, 0, 0, 0}) ? TRUE : FALSE;
}

void PostQuitMessage(int exitCode) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    Enter("PostQuitMessage", Args().Number(exitCode));
    QueueMessage(CurrentThreadId(),
                 platform::MSG{nullptr, platform::WM_QUIT, static_cast<platform::WPARAM>(exitCode), 0, 0, 0, 0});
}

HWND GetDlgItem(HWND parent, int id) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("GetDlgItem", Args().Name(WindowName(parent)).Number(id))) return nullptr;
    if (FindOwn(parent) == nullptr) return nullptr;
    for (auto& window : Windows()) {
        if (window.info.alive && window.info.parent == parent &&
            reinterpret_cast<uintptr_t>(window.info.menu) == static_cast<uintptr_t>(id)) {
            return Handle(window);
        }
    }
    return nullptr;
}

// Sent to a window of the calling thread, the procedure runs now. No caller
// sends to another thread's window, which would wait for that thread: it
// fails here rather than run the procedure on the wrong thread.
platform::LRESULT SendMessageW(HWND handle, UINT message, platform::WPARAM wParam, platform::LPARAM lParam) {
    Lock lock(Mutex());
    Args args;
    args.Name(WindowName(handle)).Number(message).Number(static_cast<int64_t>(wParam)).Number(lParam);
    if (Enter("SendMessageW", args)) return 0;
    Window* window = FindOwn(handle);
    if (window == nullptr || window->info.threadId != CurrentThreadId()) return 0;
    return Deliver(lock, window, handle, message, wParam, lParam);
}

// A new size is sent to the window as WM_SIZE (the client area: the whole window here).
BOOL MoveWindow(HWND handle, int x, int y, int width, int height, BOOL repaint) {
    Lock lock(Mutex());
    Args args;
    args.Name(WindowName(handle)).Number(x).Number(y).Number(width).Number(height).Number(repaint);
    if (Enter("MoveWindow", args)) return FALSE;
    Window* window = FindOwn(handle);
    if (window == nullptr) return FALSE;
    width = std::max(width, 0);
    height = std::max(height, 0);
    bool resized = width != window->info.width || height != window->info.height;
    window->info.x = x, window->info.y = y, window->info.width = width, window->info.height = height;
    if (repaint && (window->info.style & platform::WS_VISIBLE) != 0) window->needsPaint = true;
    Changed().notify_all();
    if (resized && window->info.threadId == CurrentThreadId()) {
        Deliver(lock, window, handle, kSize, 0, static_cast<platform::LPARAM>((height & 0xFFFF) << 16 | (width & 0xFFFF)));
    }
    return TRUE;
}

// The indexes the device has: GWL_WNDPROC, GWL_ID, GWL_STYLE, GWL_EXSTYLE,
// GWL_USERDATA, and the class's extra words (zero, since nothing here sets them).
int32_t GetWindowLongW(HWND handle, int index) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("GetWindowLongW", Args().Name(WindowName(handle)).Number(index))) return 0;
    Window* window = Find(handle);
    if (window == nullptr) return 0;
    switch (index) {
    case -4: return static_cast<int32_t>(reinterpret_cast<uintptr_t>(window->procedure));
    case -12: return static_cast<int32_t>(reinterpret_cast<uintptr_t>(window->info.menu));
    case -16: return static_cast<int32_t>(window->info.style);
    case -20: return static_cast<int32_t>(window->info.exStyle);
    case -21: return 0;
    default: break;
    }
    return 0;
}

// The commands the device takes: SW_HIDE, SW_SHOWNORMAL, SW_SHOWNOACTIVATE,
// SW_SHOW, SW_SHOWNA; it never minimises or maximises. Whether it was visible before.
BOOL ShowWindow(HWND handle, int command) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("ShowWindow", Args().Name(WindowName(handle)).Number(command))) return FALSE;
    Window* window = FindOwn(handle);
    if (window == nullptr) return FALSE;
    BOOL was = (window->info.style & platform::WS_VISIBLE) != 0 ? TRUE : FALSE;
    bool takes = command == 0 || command == 1 || command == 4 || command == 5 || command == 8;
    if (!takes) return was;
    if (command == 0) {
        window->info.style &= ~platform::WS_VISIBLE;
        window->needsPaint = false;
    } else if (!was) {
        window->info.style |= platform::WS_VISIBLE;
        window->needsPaint = true;
        Changed().notify_all();
    }
    return was;
}

// A window waiting for its paint gets WM_PAINT now, sent past the queue.
BOOL UpdateWindow(HWND handle) {
    Lock lock(Mutex());
    if (Enter("UpdateWindow", Args().Name(WindowName(handle)))) return FALSE;
    Window* window = FindOwn(handle);
    if (window == nullptr) return FALSE;
    if (window->needsPaint && window->info.threadId == CurrentThreadId()) {
        Deliver(lock, window, handle, platform::WM_PAINT, 0, 0);
    }
    return TRUE;
}

// Only the instance that registered a class takes it away, and only once no window of it is left.
BOOL UnregisterClassW(const char16_t* className, platform::HINSTANCE instance) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("UnregisterClassW", Args().Text(className).Name(ModuleName(instance)))) return FALSE;
    auto found = Classes().find(OwnClass(Text(className)));
    if (found == Classes().end() || found->second.instance == nullptr || found->second.instance != instance) {
        return FALSE;
    }
    for (auto& window : Windows()) {
        if (window.info.alive && !window.foreign && window.info.processId == found->first.first &&
            Upper(window.info.className) == found->first.second) {
            return FALSE;
        }
    }
    Classes().erase(found);
    return TRUE;
}

// The device's cursor is the wait cursor or none: an arrow asked for gets a
// handle, which stands for the device's own cursor.
platform::HCURSOR LoadCursorW(platform::HINSTANCE module, const char16_t* name) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("LoadCursorW", Args().Name(ModuleName(module)).Text(name))) return nullptr;
    constexpr uintptr_t kArrow = 32512, kWait = 32514;
    auto id = reinterpret_cast<uintptr_t>(name);
    if (module != nullptr || (id != kArrow && id != kWait)) return nullptr;
    static char cursors[2];
    return reinterpret_cast<platform::HCURSOR>(&cursors[id == kWait]);
}

// An icon of a module's resources, by its group (RT_GROUP_ICON, 14); the
// handle stands for the icon while the module is loaded. Without a module
// the device's own icons are asked for: IDI_APPLICATION alone is there.
platform::HICON LoadIconW(platform::HINSTANCE module, const char16_t* name) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("LoadIconW", Args().Name(ModuleName(module)).Text(name))) return nullptr;
    if (module == nullptr) {
        static char application;
        return reinterpret_cast<uintptr_t>(name) == 32512 ? reinterpret_cast<platform::HICON>(&application) : nullptr;
    }
    const char16_t* groupIcon = reinterpret_cast<const char16_t*>(static_cast<uintptr_t>(14));
    return reinterpret_cast<platform::HICON>(sim::internal::LookUpResource(module, name, groupIcon));
}

// Code pages the device converts: CP_ACP, which is Windows-1252 on the
// western devices the simulation stands for, and CP_UTF8, which takes no
// flags. A malformed UTF-8 sequence becomes U+FFFD. A count of -1 converts
// through the terminating NUL; without room (0) the units needed are given,
// and too little room fails (ERROR_INSUFFICIENT_BUFFER).
int MultiByteToWideChar(platform::UINT codePage, platform::DWORD flags, const char* bytes, int count,
                        char16_t* units, int room) {
    Args args;
    args.Number(codePage).Flags(flags).Narrow(count == -1 ? bytes : nullptr).Number(count).Pointer(units).Number(room);
    if (Enter("MultiByteToWideChar", args)) return 0;
    constexpr platform::UINT kAnsi = 0, kUtf8 = 65001;
    if ((codePage != kAnsi && codePage != kUtf8) || bytes == nullptr || count == 0 || count < -1 || room < 0 ||
        (room > 0 && units == nullptr) || (codePage == kUtf8 && flags != 0)) {
        return 0;
    }
    size_t length = count == -1 ? std::strlen(bytes) + 1 : static_cast<size_t>(count);
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    static const char16_t k1252[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                       0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    std::u16string out;
    for (size_t i = 0; i < length;) {
        unsigned char c = in[i];
        if (codePage == kAnsi) {
            out += c >= 0x80 && c < 0xA0 ? k1252[c - 0x80] : static_cast<char16_t>(c);
            ++i;
            continue;
        }
        int more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        uint32_t point = more == 0 ? c : more == 1 ? c & 0x1F : more == 2 ? c & 0x0F : c & 0x07;
        size_t j = i + 1;
        for (int k = 0; k < more && j < length && (in[j] & 0xC0) == 0x80; ++k, ++j) point = point << 6 | (in[j] & 0x3F);
        static const uint32_t kLeast[4] = {0, 0x80, 0x800, 0x10000};
        bool whole = more >= 0 && j - i == static_cast<size_t>(more) + 1;
        if (!whole || point < kLeast[more] || point > 0x10FFFF || (point >= 0xD800 && point < 0xE000)) {
            out += u'\uFFFD';
            i = more < 0 ? i + 1 : j;
            continue;
        }
        i = j;
        if (point < 0x10000) {
            out += static_cast<char16_t>(point);
        } else {
            point -= 0x10000;
            out += static_cast<char16_t>(0xD800 | point >> 10);
            out += static_cast<char16_t>(0xDC00 | (point & 0x3FF));
        }
    }
    if (room == 0) return static_cast<int>(out.size());
    if (out.size() > static_cast<size_t>(room)) return 0;
    std::copy(out.begin(), out.end(), units);
    return static_cast<int>(out.size());
}

}  // namespace engine
}  // namespace celoader
