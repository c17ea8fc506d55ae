// Part of the simulation (see sim.h): threads and events.
// CreateThread runs the routine on a real std::thread, which gets a
// simulated id that names its message queue. Events are the auto-reset kind
// the splash signals at each paint: WaitForSingleObject lets one wait through
// per EventModify(EVENT_SET), or runs out.
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
};

struct SimThread {
    platform::DWORD id = 0;
    std::thread thread;
    bool finished = false;
    platform::DWORD exitCode = 0;
};

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

void EndThreads() {
    std::vector<std::thread> joining;
    {
        std::lock_guard<std::recursive_mutex> lock(Mutex());
        for (auto& thread : State().started) {
            if (!thread.finished) QueueMessage(thread.id, platform::MSG{nullptr, platform::WM_QUIT, 0, 0, 0, 0, 0});
            if (thread.thread.joinable()) joining.push_back(std::move(thread.thread));
        }
        Changed().notify_all();
    }
    for (auto& thread : joining) thread.join();
}

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
    auto ended = [threadId] {
        SimThread* thread = FindThread(threadId);
        return thread == nullptr || thread->finished;
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

// The handle stands for the thread's record; the launcher never waits on it.
HANDLE CreateThread(void*, size_t, THREADPROC routine, void* parameter, DWORD, DWORD* threadId) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("CreateThread")) return nullptr;
    DWORD id = sim::g_nextId++;
    sim::State().started.emplace_back();
    sim::SimThread& thread = sim::State().started.back();
    thread.id = id;
    // The new thread blocks on the world lock until this call has returned.
    thread.thread = std::thread([id, routine, parameter] {
        sim::g_currentId = id;
        DWORD exitCode = routine(parameter);
        sim::Finish(id, exitCode);
    });
    if (threadId != nullptr) *threadId = id;
    return reinterpret_cast<HANDLE>(&thread);
}

// Every event is a new, unnamed, auto-reset one that starts clear: the only kind the launcher makes.
HANDLE CreateEventW(void*, BOOL, BOOL, const char16_t*) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("CreateEventW")) return nullptr;
    sim::State().events.emplace_back();
    return reinterpret_cast<HANDLE>(&sim::State().events.back());
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    sim::Lock lock(Mutex());
    if (Enter("WaitForSingleObject", testsupport::U16(std::to_string(milliseconds)))) return WAIT_FAILED;
    sim::Event* event = sim::FindEvent(handle);
    if (event == nullptr) return WAIT_FAILED;
    // A signal and the deadline may come together: the signal wins.
    auto signalled = [event] { return event->signalled; };
    if (!sim::internal::Changed().wait_until(lock, sim::WaitDeadline(milliseconds), signalled)) return WAIT_TIMEOUT;
    // The wait that gets through clears the event.
    event->signalled = false;
    return WAIT_OBJECT_0;
}

BOOL EventModify(HANDLE handle, DWORD function) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("EventModify", testsupport::U16(std::to_string(function)))) return FALSE;
    sim::Event* event = sim::FindEvent(handle);
    if (event == nullptr || function != EVENT_SET) return FALSE;
    event->signalled = true;
    sim::internal::Changed().notify_all();
    return TRUE;
}

}  // namespace platform
