// Part of the simulation (see sim.h): threads and events.
// CreateThread runs the routine on a real std::thread, which gets a
// simulated id that names its message queue; one created suspended never
// runs, since nothing here resumes a thread. Events are auto-reset (one wait
// gets through per EventModify(EVENT_SET)) or manual-reset (every wait gets
// through until EVENT_RESET), start signalled or not, and may be named.
// A thread's handle is signalled once its routine has returned.
//
// Timed waits may be shortened for tests with SetWaitSpeedup; what a wait
// answers does not change, only how long it takes to run out.
#include <atomic>
#include <chrono>
#include <list>
#include <thread>
#include <vector>

#include "world.h"

namespace sim {
namespace {

using internal::Mutex;
using Lock = std::unique_lock<std::recursive_mutex>;

struct Event {
    bool signalled = false;
    bool manualReset = false;
    std::u16string name;           // empty: unnamed
    int waiting = 0;               // waits under way
    uint64_t pulses = 0;           // EVENT_PULSE calls so far
    int pulseReleases = 0;         // waits the last pulse still lets through
};

struct SimThread {
    platform::DWORD id = 0;
    std::thread thread;
    bool suspended = false;        // created suspended: never runs here
    bool finished = false;
    platform::DWORD exitCode = 0;
};

// What the device's CreateThread takes in its flags: CREATE_SUSPENDED, and
// STACK_SIZE_PARAM_IS_A_RESERVATION, without which the stack size is ignored.
constexpr platform::DWORD kCreateSuspended = 0x4;
constexpr platform::DWORD kStackSizeIsAReservation = 0x10000;
// A process's whole slot of address space on the device.
constexpr size_t kProcessSlot = 32u << 20;

struct Threads {
    std::list<Event> events;           // a list keeps the handles stable
    std::list<SimThread> started;
    int speedup = 1;
};

Threads& State() {
    static Threads threads;
    return threads;
}

std::atomic<platform::DWORD> g_nextId{0x100};
thread_local platform::DWORD g_currentId = 0;
thread_local platform::DWORD g_currentProcess = 0;

Event* FindEvent(platform::HANDLE handle) {
    for (auto& event : State().events) {
        if (reinterpret_cast<platform::HANDLE>(&event) == handle) return &event;
    }
    return nullptr;
}

SimThread* FindThread(platform::DWORD id) {
    for (auto& thread : State().started) {
        if (thread.id == id) return &thread;
    }
    return nullptr;
}

SimThread* FindThreadHandle(platform::HANDLE handle) {
    for (auto& thread : State().started) {
        if (reinterpret_cast<platform::HANDLE>(&thread) == handle) return &thread;
    }
    return nullptr;
}

// When a timed wait of the given length ends, after SetWaitSpeedup.
std::chrono::steady_clock::time_point WaitDeadline(platform::DWORD milliseconds) {
    auto now = std::chrono::steady_clock::now();
    return now + std::chrono::microseconds(static_cast<int64_t>(milliseconds) * 1000 / State().speedup);
}

// Runs on the new thread once its routine has returned.
void Finish(platform::DWORD id, platform::DWORD exitCode) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    SimThread* thread = FindThread(id);
    if (thread == nullptr) return;
    thread->finished = true;
    thread->exitCode = exitCode;
    internal::Changed().notify_all();
}

}  // namespace

namespace internal {

std::condition_variable_any& Changed() {
    static std::condition_variable_any changed;
    return changed;
}

platform::DWORD CurrentThreadId() {
    if (g_currentId == 0) g_currentId = g_nextId++;
    return g_currentId;
}

bool ThreadAlive(platform::DWORD threadId) {
    SimThread* thread = FindThread(threadId);
    return thread == nullptr || !thread->finished;
}

std::string KernelName(platform::HANDLE object) {
    if (object == nullptr) return "null";
    if (Event* event = FindEvent(object)) {
        return event->name.empty() ? "event" : "event:\"" + testsupport::U8(event->name) + "\"";
    }
    int index = 1;
    for (auto& thread : State().started) {
        if (reinterpret_cast<platform::HANDLE>(&thread) == object) return "thread:" + std::to_string(index);
        ++index;
    }
    return "bad";
}

void EndThreads() {
    std::vector<std::thread> joining;
    {
        std::lock_guard<std::recursive_mutex> lock(Mutex());
        for (auto& thread : State().started) {
            // One never resumed ends with the process, without running.
            if (thread.suspended) thread.finished = true;
            if (!thread.finished) QueueMessage(thread.id, platform::MSG{nullptr, platform::WM_QUIT, 0, 0, 0, 0, 0});
            if (thread.thread.joinable()) joining.push_back(std::move(thread.thread));
        }
        Changed().notify_all();
    }
    for (auto& thread : joining) thread.join();
}

platform::DWORD CurrentProcess() { return g_currentProcess; }

void EnterProcess(platform::DWORD process) { g_currentProcess = process; }

void ResetThreads() {
    // EndThreads has joined every started thread; only finished records remain.
    State() = Threads();
}

}  // namespace internal

std::vector<platform::DWORD> StartedThreads() {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    std::vector<platform::DWORD> ids;
    for (auto& thread : State().started) ids.push_back(thread.id);
    return ids;
}

std::optional<platform::DWORD> WaitForThreadEnd(platform::DWORD threadId, int timeoutMs) {
    Lock lock(Mutex());
    // One created suspended cannot end: nothing here resumes it.
    auto ended = [threadId] {
        SimThread* thread = FindThread(threadId);
        return thread == nullptr || thread->finished || thread->suspended;
    };
    internal::Changed().wait_for(lock, std::chrono::milliseconds(timeoutMs), ended);
    SimThread* thread = FindThread(threadId);
    if (thread == nullptr || !thread->finished) return std::nullopt;
    return thread->exitCode;
}

void SetWaitSpeedup(int factor) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    State().speedup = factor > 0 ? factor : 1;
}

}  // namespace sim

namespace platform {

using sim::internal::Enter;
using sim::internal::Mutex;

// The device's pages:
// CreateThread http://systemmanager.ru/windowsce3_0_documentationarchive.en/html/wcesdkrcreatethread.htm
// CreateEvent https://learn.microsoft.com/en-us/previous-versions/windows/embedded/ms885177(v=msdn.10)
// WaitForSingleObject https://learn.microsoft.com/en-us/previous-versions/windows/embedded/aa450988(v=msdn.10)
// EventModify (SetEvent, ResetEvent, PulseEvent) https://learn.microsoft.com/en-us/previous-versions/ms919180(v=msdn.10)
// Their security attributes must be NULL on the device; flags it does not
// know fail, with ERROR_INVALID_PARAMETER.

// The handle stands for the thread's record, which a wait is signalled by once the routine returned.
HANDLE CreateThread(void* security, size_t stackSize, THREADPROC routine, void* parameter, DWORD flags,
                    DWORD* threadId) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::Args args;
    args.Pointer(security).Number(static_cast<int64_t>(stackSize)).Pointer(reinterpret_cast<void*>(routine));
    args.Pointer(parameter).Flags(flags).Pointer(threadId);
    if (Enter("CreateThread", args)) return nullptr;
    if (security != nullptr || (flags & ~(sim::kCreateSuspended | sim::kStackSizeIsAReservation)) != 0) {
        return nullptr;
    }
    // Only a reservation counts; it must fit the process's slot (ERROR_NOT_ENOUGH_MEMORY).
    if ((flags & sim::kStackSizeIsAReservation) != 0 && stackSize >= sim::kProcessSlot) return nullptr;
    DWORD id = sim::g_nextId++;
    sim::State().started.emplace_back();
    sim::SimThread& thread = sim::State().started.back();
    thread.id = id;
    thread.suspended = (flags & sim::kCreateSuspended) != 0;
    // The new thread blocks on the world lock until this call has returned.
    if (!thread.suspended) {
        // A thread belongs to the process of the thread that started it.
        thread.thread = std::thread([id, routine, parameter, process = sim::g_currentProcess] {
            sim::g_currentId = id;
            sim::g_currentProcess = process;
            DWORD exitCode = routine(parameter);
            sim::Finish(id, exitCode);
        });
    }
    if (threadId != nullptr) *threadId = id;
    return reinterpret_cast<HANDLE>(&thread);
}

// A name already taken gives that event, whatever the other arguments say, as on Windows.
HANDLE CreateEventW(void* security, BOOL manualReset, BOOL initialState, const char16_t* name) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::Args args;
    args.Pointer(security).Number(manualReset).Number(initialState).Text(name);
    if (Enter("CreateEventW", args)) return nullptr;
    if (security != nullptr) return nullptr;
    if (name != nullptr) {
        for (auto& event : sim::State().events) {
            if (!event.name.empty() && event.name == name) return reinterpret_cast<HANDLE>(&event);
        }
    }
    sim::State().events.emplace_back();
    sim::Event& event = sim::State().events.back();
    event.manualReset = manualReset != FALSE;
    event.signalled = initialState != FALSE;
    event.name = sim::internal::Text(name);
    return reinterpret_cast<HANDLE>(&event);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    sim::Lock lock(Mutex());
    sim::Args args;
    args.Name(sim::internal::KernelName(handle)).Number(milliseconds);
    if (Enter("WaitForSingleObject", args)) return WAIT_FAILED;
    sim::SimThread* thread = sim::FindThreadHandle(handle);
    if (thread != nullptr) {
        auto ended = [thread] { return thread->finished; };
        return sim::internal::Changed().wait_until(lock, sim::WaitDeadline(milliseconds), ended) ? WAIT_OBJECT_0
                                                                                                : WAIT_TIMEOUT;
    }
    sim::Event* event = sim::FindEvent(handle);
    if (event == nullptr) return WAIT_FAILED;
    // A signal and the deadline may come together: the signal wins. A pulse
    // lets through the waits under way when it came, as many as it releases.
    uint64_t pulsesBefore = event->pulses;
    bool byPulse = false;
    auto signalled = [event, pulsesBefore, &byPulse] {
        byPulse = !event->signalled && event->pulses != pulsesBefore && event->pulseReleases > 0;
        return event->signalled || byPulse;
    };
    ++event->waiting;
    bool through = sim::internal::Changed().wait_until(lock, sim::WaitDeadline(milliseconds), signalled);
    --event->waiting;
    if (!through) return WAIT_TIMEOUT;
    if (byPulse) --event->pulseReleases;
    // The wait that gets through an auto-reset event clears it.
    else if (!event->manualReset) event->signalled = false;
    return WAIT_OBJECT_0;
}

BOOL EventModify(HANDLE handle, DWORD function) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::Args args;
    args.Name(sim::internal::KernelName(handle)).Number(function);
    if (Enter("EventModify", args)) return FALSE;
    sim::Event* event = sim::FindEvent(handle);
    if (event == nullptr) return FALSE;
    constexpr DWORD kPulse = 1;
    constexpr DWORD kReset = 2;
    if (function == EVENT_SET) {
        event->signalled = true;
    } else if (function == kReset) {
        event->signalled = false;
    } else if (function == kPulse) {
        // Releases what waits now (one wait of an auto-reset event) and leaves the event clear.
        event->signalled = false;
        ++event->pulses;
        event->pulseReleases = event->manualReset ? event->waiting : (event->waiting > 0 ? 1 : 0);
    } else {
        return FALSE;
    }
    sim::internal::Changed().notify_all();
    return TRUE;
}

}  // namespace platform
