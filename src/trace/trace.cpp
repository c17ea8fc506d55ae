#include "trace/trace.h"

#include "platform/platform.h"

namespace trace {

void DebugTrace(const char16_t* message) {
    // The shipped launcher has no log; debug builds and the simulation see the trace.
    if (KEL_TRACE) platform::OutputDebugStringW(message);
    else (void)message;
}

}  // namespace trace
