// The simulation's GDI puts on the screen what Windows would show.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sim.h"
#include "bmp_builder.h"

namespace {

class SimGdi : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        sim::SetScreenSize(16, 8);
    }
    void TearDown() override { sim::Reset(); }

    // A section with the given palette; its pixel memory is returned through bits.
    platform::HBITMAP Section(int32_t w, int32_t h, platform::WORD bitCount, const std::vector<platform::RGBQUAD>& palette,
                              uint8_t** bits) {
        std::vector<uint8_t> storage(sizeof(platform::BITMAPINFOHEADER) + 4 * 256, 0);
        auto* info = reinterpret_cast<platform::BITMAPINFO*>(storage.data());
        info->bmiHeader.biSize = 40;
        info->bmiHeader.biWidth = w;
        info->bmiHeader.biHeight = h;
        info->bmiHeader.biPlanes = 1;
        info->bmiHeader.biBitCount = bitCount;
        if (!palette.empty()) std::memcpy(info->bmiColors, palette.data(), palette.size() * sizeof(platform::RGBQUAD));
        void* pixels = nullptr;
        platform::HBITMAP bitmap =
            platform::CreateDIBSection(nullptr, info, platform::DIB_RGB_COLORS, &pixels, nullptr, 0);
        *bits = static_cast<uint8_t*>(pixels);
        return bitmap;
    }

    // Blits a whole section to the screen at (x, y).
    bool Show(platform::HBITMAP bitmap, int x, int y, int w, int h, int sourceX = 0, int sourceY = 0) {
        platform::HDC screen = platform::CreateDCW(u"DISPLAY", nullptr, nullptr, nullptr);
        platform::HDC memory = platform::CreateCompatibleDC(screen);
        platform::SelectObject(memory, bitmap);
        bool done = platform::BitBlt(screen, x, y, w, h, memory, sourceX, sourceY, platform::SRCCOPY) != 0;
        platform::DeleteDC(memory);
        platform::DeleteDC(screen);
        return done;
    }
};

const std::vector<platform::RGBQUAD> kFour = {{0, 0, 0xFF, 0}, {0, 0xFF, 0, 0}, {0xFF, 0, 0, 0}, {0x10, 0x20, 0x30, 0}};

TEST_F(SimGdi, PalettePixelsAreLookedUpAndRowsAreBottomUp) {
    uint8_t* bits = nullptr;
    // 4 bits, 3 x 2: the first byte of the first stored row is the bottom row's two left pixels.
    platform::HBITMAP bitmap = Section(3, 2, 4, kFour, &bits);
    ASSERT_NE(bits, nullptr);
    bits[0] = 0x12;   // bottom row: 1, 2
    bits[1] = 0x30;   //             3
    bits[4] = 0x03;   // top row:    0, 3
    bits[5] = 0x20;   //             2
    ASSERT_TRUE(Show(bitmap, 0, 0, 3, 2));
    EXPECT_EQ(sim::ScreenPixel(0, 0), 0xFF0000u);
    EXPECT_EQ(sim::ScreenPixel(1, 0), 0x302010u);
    EXPECT_EQ(sim::ScreenPixel(2, 0), 0x0000FFu);
    EXPECT_EQ(sim::ScreenPixel(0, 1), 0x00FF00u);
    EXPECT_EQ(sim::ScreenPixel(1, 1), 0x0000FFu);
    EXPECT_EQ(sim::ScreenPixel(2, 1), 0x302010u);
    EXPECT_EQ(sim::ScreenPixel(3, 0), sim::kDesktopColour);

    // 1 bit: the most significant bit is the leftmost pixel.
    bitmap = Section(9, 1, 1, kFour, &bits);
    bits[0] = 0x80;
    bits[1] = 0x80;
    ASSERT_TRUE(Show(bitmap, 0, 2, 9, 1));
    EXPECT_EQ(sim::ScreenPixel(0, 2), 0x00FF00u);
    EXPECT_EQ(sim::ScreenPixel(1, 2), 0xFF0000u);
    EXPECT_EQ(sim::ScreenPixel(8, 2), 0x00FF00u);

    // 24 bits are blue, green, red.
    bitmap = Section(1, 1, 24, {}, &bits);
    bits[0] = 0x01;
    bits[1] = 0x02;
    bits[2] = 0x03;
    ASSERT_TRUE(Show(bitmap, 5, 5, 1, 1));
    EXPECT_EQ(sim::ScreenPixel(5, 5), 0x030201u);
}

TEST_F(SimGdi, BlitsAreClippedToTheScreenTheWindowAndTheBitmap) {
    uint8_t* bits = nullptr;
    platform::HBITMAP bitmap = Section(4, 4, 8, kFour, &bits);
    for (int row = 0; row < 4; ++row) {
        for (int x = 0; x < 4; ++x) bits[row * 4 + x] = static_cast<uint8_t>((3 - row + x) % 4);
    }
    // Hanging off the top left: only the part on the screen is drawn.
    ASSERT_TRUE(Show(bitmap, -2, -3, 4, 4));
    EXPECT_EQ(sim::ScreenPixel(0, 0), testsupport::Colour(kFour[(3 + 2) % 4]));
    EXPECT_EQ(sim::ScreenPixel(1, 0), testsupport::Colour(kFour[(3 + 3) % 4]));
    EXPECT_EQ(sim::ScreenPixel(2, 0), sim::kDesktopColour);
    EXPECT_EQ(sim::ScreenPixel(0, 1), sim::kDesktopColour);
    // Off the bottom right, and larger than the bitmap: nothing beyond either.
    ASSERT_TRUE(Show(bitmap, 14, 6, 10, 10));
    EXPECT_EQ(sim::ScreenPixel(14, 6), testsupport::Colour(kFour[0]));
    EXPECT_EQ(sim::ScreenPixel(15, 7), testsupport::Colour(kFour[2]));
    EXPECT_EQ(sim::ScreenPixel(13, 7), sim::kDesktopColour);
    // From inside the source.
    ASSERT_TRUE(Show(bitmap, 8, 0, 1, 1, 3, 3));
    EXPECT_EQ(sim::ScreenPixel(8, 0), testsupport::Colour(kFour[2]));

    EXPECT_EQ(sim::ScreenPixel(-1, 0), 0xFFFFFFFFu);
    EXPECT_EQ(sim::ScreenPixel(16, 0), 0xFFFFFFFFu);
}

TEST_F(SimGdi, ContextsAreCountedAndMemoryContextsHoldADefaultBitmap) {
    uint8_t* bits = nullptr;
    platform::HBITMAP bitmap = Section(2, 2, 24, {}, &bits);
    platform::HDC first = platform::CreateCompatibleDC(nullptr);
    platform::HDC second = platform::CreateCompatibleDC(nullptr);
    platform::HDC screen = platform::CreateDCW(u"DISPLAY", nullptr, nullptr, nullptr);
    EXPECT_EQ(sim::OpenDCCount(), 3);
    // A new memory context holds a default bitmap, which selecting gives back.
    platform::HGDIOBJ original = platform::SelectObject(first, bitmap);
    EXPECT_NE(original, nullptr);
    EXPECT_NE(original, bitmap);
    EXPECT_EQ(platform::SelectObject(first, bitmap), bitmap);
    // Without a section selected, the default bitmap is copied: one black pixel.
    EXPECT_TRUE(platform::BitBlt(screen, 0, 0, 2, 2, second, 0, 0, platform::SRCCOPY));
    EXPECT_EQ(sim::ScreenPixel(0, 0), 0x000000u);
    EXPECT_EQ(sim::ScreenPixel(1, 0), sim::kDesktopColour);
    EXPECT_EQ(sim::ScreenPixel(0, 1), sim::kDesktopColour);
    EXPECT_TRUE(platform::DeleteDC(first));
    EXPECT_FALSE(platform::DeleteDC(first));
    EXPECT_TRUE(platform::DeleteDC(second));
    EXPECT_TRUE(platform::DeleteDC(screen));
    EXPECT_EQ(sim::OpenDCCount(), 0);

    EXPECT_NE(platform::GetStockObject(platform::WHITE_BRUSH), nullptr);
    EXPECT_EQ(platform::GetStockObject(platform::WHITE_BRUSH), platform::GetStockObject(platform::WHITE_BRUSH));
}

TEST_F(SimGdi, SectionsHaveRealMemory) {
    uint8_t* bits = nullptr;
    platform::HBITMAP bitmap = Section(5, 3, 8, kFour, &bits);
    ASSERT_NE(bitmap, nullptr);
    auto info = sim::GetSectionInfo(bitmap);
    EXPECT_EQ(info->stride, 8u);
    EXPECT_EQ(info->bits.size(), 24u);
    EXPECT_EQ(info->palette.size(), 256u);
    EXPECT_EQ(testsupport::Colour(info->palette[2]), testsupport::Colour(kFour[2]));
    bits[23] = 0x77;
    EXPECT_EQ(sim::GetSectionInfo(bitmap)->bits[23], 0x77);
    EXPECT_FALSE(sim::GetSectionInfo(platform::GetStockObject(platform::WHITE_BRUSH)).has_value());

    sim::Fail("CreateDIBSection");
    bits = reinterpret_cast<uint8_t*>(1);
    EXPECT_EQ(Section(5, 3, 8, kFour, &bits), nullptr);
    EXPECT_EQ(bits, nullptr);
}

platform::LRESULT Plain(platform::HWND window, platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam) {
    return platform::DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(SimGdi, PaintingDrawsAtTheWindowAndStopsAtItsEdge) {
    platform::WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = Plain;
    windowClass.lpszClassName = u"Canvas";
    platform::RegisterClassW(&windowClass);
    platform::HWND window = platform::CreateWindowExW(0, u"Canvas", u"", platform::WS_VISIBLE, 10, 4, 3, 3, nullptr,
                                                      nullptr, nullptr, nullptr);
    platform::PAINTSTRUCT paint;
    platform::HDC dc = platform::BeginPaint(window, &paint);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(paint.hdc, dc);
    EXPECT_EQ(paint.rcPaint.right, 3);

    uint8_t* bits = nullptr;
    platform::HBITMAP bitmap = Section(8, 8, 24, {}, &bits);
    std::memset(bits, 0x11, 8 * 24);
    platform::HDC memory = platform::CreateCompatibleDC(dc);
    platform::SelectObject(memory, bitmap);
    // The window's context starts at the window and stops at its edge.
    ASSERT_TRUE(platform::BitBlt(dc, 0, 0, 8, 8, memory, 0, 0, platform::SRCCOPY));
    EXPECT_EQ(sim::ScreenPixel(10, 4), 0x111111u);
    EXPECT_EQ(sim::ScreenPixel(12, 6), 0x111111u);
    EXPECT_EQ(sim::ScreenPixel(13, 6), sim::kDesktopColour);
    EXPECT_EQ(sim::ScreenPixel(9, 4), sim::kDesktopColour);
    platform::DeleteDC(memory);
    EXPECT_TRUE(platform::EndPaint(window, &paint));
    EXPECT_EQ(sim::OpenDCCount(), 0);

    // A destroyed window leaves the desktop behind.
    EXPECT_TRUE(platform::DestroyWindow(window));
    EXPECT_EQ(sim::ScreenPixel(10, 4), sim::kDesktopColour);
}

}  // namespace
