// The splash window on its own thread.
#pragma once

#include "platform/platform.h"

namespace splash {

// Shows the best-fitting splash and waits at most 3000 ms for its first paint; 0 when there is no splash.
platform::DWORD ShowSplash(platform::HMODULE module, platform::HINSTANCE instance);

}  // namespace splash
