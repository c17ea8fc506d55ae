// Threads and events: CreateThread runs the routine on a real std::thread;
// events and thread handles are kernel objects that WaitForSingleObject
// waits on (a thread's handle is signalled once it has ended). Every thread
// that calls in gets a simulated id, which names its message queue.
//
// Timed waits may be shortened for tests with SetWaitSpeedup; what a wait
// answers does not change, only how long it takes to run out.
#include <atomic>
#include <list>
#include <thread>
#include <vector>

#include "platform/host/world.h"

namespace sim {
namespace {

using internal::Mutex;
using Lock = std::unique_lock<std::recursive_mutex>;

enum class ObjectKind { kEvent, kThread };

struct KernelObject {
    ObjectKind kind = ObjectKind::kEvent;
    bool manualReset = false;
    bool signalled = false;
    platform::DWORD threadId = 0;   // threads only
    // A pulse releases the threads that wait at that moment and leaves the event clear.
    uint64_t pulses = 0;
    int pulseReleases = 0;
    int waiters = 0;
};

struct SimThread {
    platform::DWORD id = 0;
    std::thread thread;
    bool finished = false;
    platform::DWORD exitCode = 0;
    KernelObject* handle = nullptr;
};

struct Threads {
    std::list<KernelObject> objects;   // a list keeps the handles stable
    std::list<SimThread> started;
    std::vector<platform::DWORD> adopted;   // threads the simulation did not start: the tests' own
    int speedup = 1;
};

Threads& State() {
    static Threads threads;
    return threads;
}

std::atomic<platform::DWORD> nextId{0x100};
thread_local platform::DWORD currentId = 0;

KernelObject* FindObject(platform::HANDLE handle) {
    for (auto& object : State().objects) {
        if (reinterpret_cast<platform::HANDLE>(&object) == handle) return &object;
    }
    return nullptr;
}

SimThread* FindThread(platform::DWORD id) {
    for (auto& thread : State().started) {
        if (thread.id == id) return &thread;
    }
    return nullptr;
}

// Runs on the new thread once its routine has returned.
void Finish(platform::DWORD id, platform::DWORD exitCode) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    SimThread* thread = FindThread(id);
    if (thread == nullptr) return;
    thread->finished = true;
    thread->exitCode = exitCode;
    thread->handle->signalled = true;
    internal::ThreadEnded(id);
    internal::Changed().notify_all();
}

}  // namespace

namespace internal {

std::condition_variable_any& Changed() {
    static std::condition_variable_any changed;
    return changed;
}

platform::DWORD CurrentThreadId() {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (currentId == 0) currentId = nextId++;
    if (FindThread(currentId) == nullptr) {
        auto& adopted = State().adopted;
        bool known = false;
        for (auto id : adopted) known = known || id == currentId;
        if (!known) adopted.push_back(currentId);
    }
    return currentId;
}

bool ThreadAlive(platform::DWORD threadId) {
    if (SimThread* thread = FindThread(threadId)) return !thread->finished;
    for (auto id : State().adopted) {
        if (id == threadId) return true;
    }
    return false;
}

std::chrono::steady_clock::time_point WaitDeadline(platform::DWORD milliseconds) {
    auto now = std::chrono::steady_clock::now();
    return now + std::chrono::microseconds(static_cast<int64_t>(milliseconds) * 1000 / State().speedup);
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
    State().objects.clear();
    State().started.clear();
    State().adopted.clear();
    State().speedup = 1;
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
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        SimThread* thread = FindThread(threadId);
        if (thread == nullptr) return std::nullopt;
        if (thread->finished) return thread->exitCode;
        if (internal::Changed().wait_until(lock, deadline) == std::cv_status::timeout) {
            thread = FindThread(threadId);
            if (thread != nullptr && thread->finished) return thread->exitCode;
            return std::nullopt;
        }
    }
}

void SetWaitSpeedup(int factor) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    State().speedup = factor > 0 ? factor : 1;
}

}  // namespace sim

namespace platform {

using sim::internal::Enter;
using sim::internal::Mutex;

HANDLE CreateThread(void*, size_t, THREADPROC routine, void* parameter, DWORD flags, DWORD* threadId) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("CreateThread")) return nullptr;
    // Suspended creation is not simulated.
    if (routine == nullptr || flags != 0) return nullptr;
    sim::Threads& state = sim::State();
    DWORD id = sim::nextId++;
    state.objects.push_back(sim::KernelObject{});
    sim::KernelObject* handle = &state.objects.back();
    handle->kind = sim::ObjectKind::kThread;
    handle->threadId = id;
    state.started.emplace_back();
    sim::SimThread& thread = state.started.back();
    thread.id = id;
    thread.handle = handle;
    // The new thread blocks on the world lock until this call has returned.
    thread.thread = std::thread([id, routine, parameter] {
        sim::currentId = id;
        DWORD exitCode = routine(parameter);
        sim::Finish(id, exitCode);
    });
    if (threadId != nullptr) *threadId = id;
    return reinterpret_cast<HANDLE>(handle);
}

HANDLE CreateEventW(void*, BOOL manualReset, BOOL initialState, const char16_t*) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("CreateEventW")) return nullptr;
    // Names are not simulated: every event is a new one.
    sim::State().objects.push_back(sim::KernelObject{});
    sim::KernelObject& event = sim::State().objects.back();
    event.manualReset = manualReset != FALSE;
    event.signalled = initialState != FALSE;
    return reinterpret_cast<HANDLE>(&event);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    sim::Lock lock(Mutex());
    if (Enter("WaitForSingleObject",
              milliseconds == INFINITE ? std::u16string(u"INFINITE") : sim::U16(std::to_string(milliseconds)))) {
        return WAIT_FAILED;
    }
    sim::KernelObject* object = sim::FindObject(handle);
    if (object == nullptr) return WAIT_FAILED;
    auto deadline = sim::internal::WaitDeadline(milliseconds);
    uint64_t pulsesSeen = object->pulses;
    ++object->waiters;
    DWORD result = WAIT_TIMEOUT;
    for (;;) {
        if (object->signalled) {
            // An auto-reset event lets one waiter through and clears itself.
            if (object->kind == sim::ObjectKind::kEvent && !object->manualReset) object->signalled = false;
            result = WAIT_OBJECT_0;
            break;
        }
        if (object->pulses != pulsesSeen && object->pulseReleases > 0) {
            --object->pulseReleases;
            result = WAIT_OBJECT_0;
            break;
        }
        if (milliseconds == 0) break;
        if (milliseconds == INFINITE) {
            sim::internal::Changed().wait(lock);
        } else if (sim::internal::Changed().wait_until(lock, deadline) == std::cv_status::timeout) {
            // One last look: a signal and the deadline may have come together.
            if (object->signalled) continue;
            break;
        }
    }
    --object->waiters;
    return result;
}

BOOL EventModify(HANDLE handle, DWORD function) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("EventModify", sim::U16(std::to_string(function)))) return FALSE;
    sim::KernelObject* event = sim::FindObject(handle);
    if (event == nullptr || event->kind != sim::ObjectKind::kEvent) return FALSE;
    switch (function) {
        case EVENT_SET: event->signalled = true; break;
        case EVENT_RESET: event->signalled = false; break;
        case EVENT_PULSE:
            ++event->pulses;
            event->pulseReleases = event->manualReset ? event->waiters : (event->waiters > 0 ? 1 : 0);
            event->signalled = false;
            break;
        default: return FALSE;
    }
    sim::internal::Changed().notify_all();
    return TRUE;
}

}  // namespace platform
