// A splash bitmap file turned into a bitmap section the splash window paints
// from: the checks and row plan of splash/bitmap.h carried out with GDI.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace splash {

// Decodes a bitmap file into a bitmap section; null when rejected or the section cannot be made.
platform::HBITMAP DecodeSplashBmp(const void* bytes, uint32_t length, int32_t* width, int32_t* height);
// Finds the "SplashScreen" resource of the given name and decodes it; null when missing or rejected.
platform::HBITMAP LoadSplashBitmap(platform::HMODULE module, const char* name, int32_t* width, int32_t* height);

}  // namespace splash
