// Part of the simulation (see sim.h): what its pieces share with each
// other, and with the device calls that a loader of engines models on the
// same world (tests/celoader). Tests use sim.h, never this.
#pragma once

#include <condition_variable>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <cstdint>

#include "sim.h"
#include "text_helpers.h"

namespace sim::internal {

// The one lock over the simulated world; recursive, since window procedures
// call back into the simulation while a dispatch holds it.
std::recursive_mutex& Mutex();

// The arguments of one call as the log spells them, in the call's order:
// text quoted, numbers in decimal, flags in hexadecimal, pointers and handles
// as null or what they stand for, so that two runs that pass the same values
// log the same line whatever the addresses.
class Args {
public:
    Args& Text(const char16_t* text);     // "text", or null
    Args& Narrow(const char* text);       // "text", or null
    Args& Number(int64_t value);
    Args& Flags(uint32_t value);          // 0x...
    Args& Pointer(const void* pointer);   // null, or ptr: a buffer or record the call reads or fills
    Args& Name(const std::string& name);  // a handle, as the part of the world that owns it names it
    const std::string& Spelt() const { return spelt_; }

private:
    Args& Add(const std::string& argument);
    std::string spelt_;
};

// Records a call in the log with its arguments; true when a Fail rule says this call must fail.
bool Enter(const char* operation, const Args& args);

// Every handle a call may be given, named for the log by the part of the
// world that owns it: "null" for none, "bad" for one it does not know.
std::string ModuleName(platform::HMODULE module);
std::string KeyName(platform::HKEY key);
std::string WindowName(platform::HWND window);
std::string DcName(platform::HDC dc);
std::string ObjectName(platform::HGDIOBJ object);
std::string KernelName(platform::HANDLE object);

// ASCII upper-casing, the way the platform folds resource, key and class names.
std::u16string Upper(const std::u16string& s);
// A text argument; null becomes "", an integer id below 0x10000 "#N".
std::u16string Text(const char16_t* text);

// Each piece of the world forgets its state; Reset calls them all, then
// what a loader added with OnReset (state of its own on the world's).
void OnReset(void (*reset)());
void ResetModules();
void ResetRegistry();
void ResetWindows();
void ResetSockets();
void ResetGdi();
void ResetThreads();

// Posts WM_QUIT to every thread that CreateThread started and joins them all.
// Called without the lock: the threads need it to fetch their WM_QUIT.
void EndThreads();

// ---------------------------------------------------------------- shared between windows, GDI and threads

// Notified whenever a queue, a window's paint state, an event or a thread changes;
// waiters use it with the world lock held once.
std::condition_variable_any& Changed();
// The simulated id of the calling thread.
platform::DWORD CurrentThreadId();
// Whether a thread can still take messages: one CreateThread started that has
// not ended, or one it did not start (a test's own).
bool ThreadAlive(platform::DWORD threadId);
// Queues a message for a thread (window null: a thread message); false when the thread is gone.
bool QueueMessage(platform::DWORD threadId, const platform::MSG& message);

// A device context that draws on the screen through a window at (x, y), clipped to it.
platform::HDC CreateWindowDC(int x, int y, int width, int height);
// Whether a handle is a module the simulation knows: the launcher's or an installed library.
bool IsModule(platform::HMODULE module);
// Gives back a context that CreateWindowDC made.
void ReleaseWindowDC(platform::HDC dc);
// Fills a rectangle of the screen, clipped to it.
void FillScreen(int x, int y, int width, int height, uint32_t colour);
// A resource of the launcher's module or of a mapped image, as FindResourceW finds it, unlogged.
platform::HRSRC LookUpResource(platform::HMODULE module, const char16_t* name, const char16_t* type);

// ---------------------------------------------------------------- processes
//
// The calling thread's process: 0, the first, unless a loader that runs a
// second program beside the first put the thread in another. A thread that
// CreateThread starts is in the process of the thread that started it.
// Each process has its own launcher module (SetLauncherModule), its own
// loads of a library with a load function (a loader maps it once per
// process) and its own window classes; windows, queues, the registry and the
// sockets are the world's, shared by all.
platform::DWORD CurrentProcess();
void EnterProcess(platform::DWORD process);

// ---------------------------------------------------------------- the world's windows

// A window as the world keeps it.
struct Window {
    WindowInfo info;
    bool foreign = false;                // another process's window: it only records what it is posted
    platform::WNDPROC procedure = nullptr;
    bool needsPaint = false;
    std::vector<PostedMessage> posted;   // foreign windows only
};
// Classes by process and upper-cased name; kSystemClasses for the system's, which every process has.
using ClassMap = std::map<std::pair<platform::DWORD, std::u16string>, ClassInfo>;
constexpr platform::DWORD kSystemClasses = 0xFFFFFFFFu;

// Every window since Reset, alive or not, in order of creation (a list keeps the handles stable).
std::list<Window>& Windows();
ClassMap& Classes();
inline platform::HWND Handle(Window& window) { return reinterpret_cast<platform::HWND>(&window); }
// A window that exists now; FindOwn: one CreateWindowExW made, not a foreign stand-in.
Window* Find(platform::HWND handle);
Window* FindOwn(platform::HWND handle);
// The key of the calling process's own class of that name.
ClassMap::key_type OwnClass(const std::u16string& name);

// ---------------------------------------------------------------- the world's sockets

// A socket handed out and not yet closed.
bool SocketOpen(platform::SOCKET s);
// The name a socket has in the call log: real descriptors differ from run to run.
std::string SocketName(platform::SOCKET s);
// Hands out a socket made by other means than socket() (an accepted one): closed at Reset.
void AdoptSocket(platform::SOCKET s);

}  // namespace sim::internal

namespace sim {
using internal::Args;
}  // namespace sim
