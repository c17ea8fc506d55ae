// The embedded command line and its merge with the user's command line.
#pragma once

#include "platform/platform.h"

namespace cmdline {

// The command line the rest of the start-up uses: the user's, the embedded one, or both merged.
const char16_t* MergeCommandLine(platform::HMODULE module, const char16_t* userCommandLine);

}  // namespace cmdline
