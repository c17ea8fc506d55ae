#include "splash/placement.h"

#include <gtest/gtest.h>

namespace {

TEST(PlaceSplashWindow, CentresAndTruncatesTowardZero) {
    struct Case { int32_t screenW, screenH, w, h, x, y; };
    const Case cases[] = {
        {240, 320, 240, 320, 0, 0},
        {240, 320, 150, 150, 45, 85},
        {240, 320, 151, 151, 44, 84},     // the odd pixel goes right and below
        {240, 320, 300, 300, -30, 10},    // overhangs both sides
        {240, 320, 301, 301, -30, 9},     // -61 / 2 is -30, where flooring gives -31
        {240, 320, 260, 341, -10, -10},   // -21 / 2 is -10
        {1, 1, 65535, 65535, -32767, -32767},
    };
    for (const Case& c : cases) {
        splash::SplashPlacement p = splash::PlaceSplashWindow(c.screenW, c.screenH, c.w, c.h);
        EXPECT_EQ(p.x, c.x) << c.w << " on " << c.screenW;
        EXPECT_EQ(p.y, c.y) << c.h << " on " << c.screenH;
        EXPECT_EQ(p.width, c.w);
        EXPECT_EQ(p.height, c.h);
    }
}

}  // namespace
