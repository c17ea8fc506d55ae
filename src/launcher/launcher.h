// The launcher's entry routine: the fixed start-up sequence.
#pragma once

#include "platform/platform.h"

namespace launcher {

// Runs the start-up and returns the exit code: the engine's result, or 0 on every other path.
int Launch(platform::HINSTANCE instance, platform::HINSTANCE previous, const char16_t* commandLine, int show);

}  // namespace launcher
