// Where the splash window lies on the screen. The launcher's splash thread
// creates its window there, and kelpack draws its previews from the same
// rule, so that a preview shows the window where the device shows it.
#pragma once

#include <cstdint>

namespace splash {

// A window's place on the screen: its top-left corner and its size.
struct SplashPlacement {
    int32_t x;        // may be negative: a window wider than the screen overhangs both sides
    int32_t y;
    int32_t width;    // the bitmap's own size
    int32_t height;
};

// The splash window of a width x height bitmap, centred on the screen.
SplashPlacement PlaceSplashWindow(int32_t screenWidth, int32_t screenHeight, int32_t width, int32_t height);

}  // namespace splash
