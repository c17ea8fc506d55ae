// Threads and events on the real platform.
#include <cstdlib>

#include "platform/win32/win32.h"

namespace platform {

using win32::As;

#ifndef UNDER_CE
namespace {

// The core's thread routine has the default calling convention; desktop
// Windows calls WINAPI ones, which differ from it on 32-bit x86. The
// trampoline carries the routine and its parameter across on the heap and
// frees them once it has them.
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
#endif

HANDLE CreateThread(void* security, size_t stackSize, THREADPROC routine, void* parameter, DWORD flags,
                    DWORD* threadId) {
#ifdef UNDER_CE
    // ARM has one calling convention: the device calls the routine itself,
    // with the parameter the caller gave.
    return As<HANDLE>(::CreateThread(static_cast<LPSECURITY_ATTRIBUTES>(security), stackSize,
                                     reinterpret_cast<LPTHREAD_START_ROUTINE>(routine), parameter, flags,
                                     reinterpret_cast<LPDWORD>(threadId)));
#else
    auto* start = static_cast<ThreadStart*>(std::malloc(sizeof(ThreadStart)));
    if (start == NULL) return NULL;
    start->routine = routine;
    start->parameter = parameter;
    ::HANDLE thread = ::CreateThread(static_cast<LPSECURITY_ATTRIBUTES>(security), stackSize, ThreadTrampoline,
                                     start, flags, reinterpret_cast<LPDWORD>(threadId));
    if (thread == NULL) std::free(start);
    return As<HANDLE>(thread);
#endif
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
