// What the launcher fixes about the engine library.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace launcher {

// Loads the engine by name, else through the registered path; null when neither loads.
platform::HMODULE LoadEngineLibrary();

}  // namespace launcher
