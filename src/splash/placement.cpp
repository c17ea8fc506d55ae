// Centring the splash window.
//
//   screen     bitmap     x, y
//   240x320    150x150    45, 85
//   240x320    300x300    -30, 10    (overhangs 30 pixels left and right)
//   240x320    301x301    -30, 9     (-61 / 2 truncates toward zero; not -31)
//   240x320    151x151    44, 84     (an odd margin leaves the extra pixel right and below)
#include "splash/placement.h"

namespace splash {

SplashPlacement PlaceSplashWindow(int32_t screenWidth, int32_t screenHeight, int32_t width, int32_t height) {
    // Subtract first, then halve with C's signed division, which truncates
    // toward zero: a window larger than the screen by an odd number of
    // pixels sits one pixel further right (or down) than flooring would put it.
    SplashPlacement place;
    place.x = (screenWidth - width) / 2;
    place.y = (screenHeight - height) / 2;
    place.width = width;
    place.height = height;
    return place;
}

}  // namespace splash
