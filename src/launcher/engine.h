// What the launcher fixes about the engine library.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace launcher {

// The longest registered engine path taken, in bytes: the platform's longest
// path (32767 characters), its terminator and surrounding quotes.
const uint32_t kMaxEnginePathBytes = (32767 + 3) * sizeof(char16_t);

// Loads the engine by name, else through the registered path; null when neither loads.
platform::HMODULE LoadEngineLibrary();

}  // namespace launcher
