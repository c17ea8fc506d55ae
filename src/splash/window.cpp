#include "splash/window.h"

namespace splash {

platform::DWORD ShowSplash(platform::HMODULE, platform::HINSTANCE) { return 0; }

}  // namespace splash
