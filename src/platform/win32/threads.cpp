// Threads and events on the real platform.
#include <cstdlib>

#include "platform/win32/win32.h"

namespace platform {

using win32::As;

namespace {

// The core's thread routine has the default calling convention; Windows
// calls WINAPI ones. The trampoline carries the routine and its parameter
// across on the heap and frees them once it has them.
struct ThreadStart {
    THREADPROC routine;
    void* parameter;
};

::DWORD WINAPI ThreadTrampoline(LPVOID start) {
    ThreadStart copy = *static_cast<ThreadStart*>(start);
    std::free(start);
    return copy.routine(copy.parameter);
}

}  // namespace

HANDLE CreateThread(void* security, size_t stackSize, THREADPROC routine, void* parameter, DWORD flags,
                    DWORD* threadId) {
    auto* start = static_cast<ThreadStart*>(std::malloc(sizeof(ThreadStart)));
    if (start == NULL) return NULL;
    start->routine = routine;
    start->parameter = parameter;
    ::HANDLE thread = ::CreateThread(static_cast<LPSECURITY_ATTRIBUTES>(security), stackSize, ThreadTrampoline,
                                     start, flags, reinterpret_cast<LPDWORD>(threadId));
    if (thread == NULL) std::free(start);
    return As<HANDLE>(thread);
}

HANDLE CreateEventW(void* security, BOOL manualReset, BOOL initialState, const char16_t* name) {
    return As<HANDLE>(::CreateEventW(static_cast<LPSECURITY_ATTRIBUTES>(security), manualReset, initialState,
                                     win32::W(name)));
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    return ::WaitForSingleObject(As< ::HANDLE>(object), milliseconds);
}

BOOL EventModify(HANDLE event, DWORD function) {
    // The device's one call for setting, resetting and pulsing; the desktop
    // has one each, and the launcher only ever sets.
    if (function != EVENT_SET) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return ::SetEvent(As< ::HANDLE>(event));
}

}  // namespace platform
