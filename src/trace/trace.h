// The start-up trace: three fixed messages that tell where a start got to.
#pragma once

namespace trace {

// Sends a message to the debugger in builds with the trace on; does nothing in the shipped launcher.
void DebugTrace(const char16_t* message);

}  // namespace trace
