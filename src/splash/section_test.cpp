// Splash bitmaps decoded into sections of the simulated display, and loaded
// from the launcher's resources.
#include "splash/section.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "sim.h"
#include "splash/bitmap.h"

namespace {

constexpr uint8_t kPoison = 0xA5;
constexpr int32_t kUntouched = static_cast<int32_t>(0xdeadbeef);

class SplashSection : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        // New sections start poisoned, so bytes the decoder leaves alone stand out.
        sim::SetSectionFill(kPoison);
    }
    void TearDown() override { sim::Reset(); }

    platform::HBITMAP Decode(const std::string& bytes) {
        width = kUntouched;
        height = kUntouched;
        return splash::DecodeSplashBmp(bytes.data(), static_cast<uint32_t>(bytes.size()), &width, &height);
    }

    int32_t width = kUntouched;
    int32_t height = kUntouched;
};

testsupport::BmpFile File(int32_t w, int32_t h, uint16_t bits) { return testsupport::PatternBmp(w, h, bits); }

TEST_F(SplashSection, AcceptsOnlyTheSmallSubset) {
    std::string good = testsupport::BmpBytes(File(2, 2, 24));
    EXPECT_NE(Decode(good), nullptr);

    EXPECT_EQ(Decode(good.substr(0, 53)), nullptr);
    EXPECT_EQ(width, kUntouched);

    std::string bytes = good;
    bytes[0] = 'b';
    EXPECT_EQ(Decode(bytes), nullptr);
    bytes = good;
    bytes[1] = 'N';
    EXPECT_EQ(Decode(bytes), nullptr);
    EXPECT_EQ(width, kUntouched);

    for (uint32_t headerSize : {12u, 108u, 124u, 0u}) {
        bytes = good;
        testsupport::PutU32(bytes, 14, headerSize);
        EXPECT_EQ(Decode(bytes), nullptr) << headerSize;
        // The size is read only once the header is known to be the 40-byte one.
        EXPECT_EQ(width, kUntouched);
    }
    for (uint16_t bits : {uint16_t{0}, uint16_t{2}, uint16_t{16}, uint16_t{32}}) {
        bytes = good;
        testsupport::PutU16(bytes, 28, bits);
        EXPECT_EQ(Decode(bytes), nullptr) << bits;
    }
    for (uint32_t compression : {1u, 2u, 3u}) {
        bytes = good;
        testsupport::PutU32(bytes, 30, compression);
        EXPECT_EQ(Decode(bytes), nullptr) << compression;
    }
    for (uint16_t bits : {uint16_t{1}, uint16_t{4}, uint16_t{8}, uint16_t{24}}) {
        EXPECT_NE(Decode(testsupport::BmpBytes(File(3, 2, bits))), nullptr) << bits;
        EXPECT_EQ(width, 3);
        EXPECT_EQ(height, 2);
    }
    EXPECT_EQ(sim::OpenDCCount(), 0);
}

// Each rejection names the first rule the file breaks, so that tools can say why.
TEST_F(SplashSection, WidthAndHeightLimits) {
    std::string base = testsupport::BmpBytes(File(1, 1, 1));
    auto withSize = [&base](int32_t w, int32_t h) {
        std::string bytes = base;
        testsupport::PutU32(bytes, 18, static_cast<uint32_t>(w));
        testsupport::PutU32(bytes, 22, static_cast<uint32_t>(h));
        return bytes;
    };
    // A top-down file fails, but the size it claims is reported.
    EXPECT_EQ(Decode(withSize(10, -100)), nullptr);
    EXPECT_EQ(width, 10);
    EXPECT_EQ(height, -100);
    EXPECT_EQ(Decode(withSize(0, 1)), nullptr);
    EXPECT_EQ(Decode(withSize(1, 0)), nullptr);
    EXPECT_EQ(Decode(withSize(-1, 1)), nullptr);
    EXPECT_EQ(Decode(withSize(65536, 1)), nullptr);
    EXPECT_EQ(Decode(withSize(1, 65536)), nullptr);
    EXPECT_EQ(Decode(withSize(INT32_MIN, 1)), nullptr);

    platform::HBITMAP wide = Decode(withSize(65535, 1));
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(sim::GetSectionInfo(wide)->width, 65535);
    platform::HBITMAP tall = Decode(withSize(1, 65535));
    ASSERT_NE(tall, nullptr);
    EXPECT_EQ(height, 65535);
    EXPECT_EQ(sim::GetSectionInfo(tall)->height, 65535);
}

TEST_F(SplashSection, SectionStrideIsTheFiles) {
    // The file's stride is the section's.
    for (uint16_t bits : {uint16_t{1}, uint16_t{4}, uint16_t{8}, uint16_t{24}}) {
        for (int32_t w : {1, 5, 9, 33}) {
            platform::HBITMAP bitmap = Decode(testsupport::BmpBytes(File(w, 1, bits)));
            ASSERT_NE(bitmap, nullptr);
            EXPECT_EQ(sim::GetSectionInfo(bitmap)->stride, splash::SplashStride(bits, w)) << bits << " " << w;
        }
    }
}

TEST_F(SplashSection, CopiesWholeRowsInFileOrder) {
    testsupport::BmpFile file = File(5, 4, 8);
    std::string bytes = testsupport::BmpBytes(file);
    platform::HBITMAP bitmap = Decode(bytes);
    ASSERT_NE(bitmap, nullptr);
    auto section = sim::GetSectionInfo(bitmap);
    EXPECT_EQ(std::string(section->bits.begin(), section->bits.end()), bytes.substr(1078));

    // Two rows short: the bottom rows come first in the file, so the top two keep the section's bytes.
    file.rowsWritten = 2;
    bitmap = Decode(testsupport::BmpBytes(file));
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(height, 4);
    section = sim::GetSectionInfo(bitmap);
    ASSERT_EQ(section->bits.size(), 32u);
    EXPECT_EQ(std::string(section->bits.begin(), section->bits.begin() + 16), bytes.substr(1078, 16));
    EXPECT_EQ(std::vector<uint8_t>(section->bits.begin() + 16, section->bits.end()), std::vector<uint8_t>(16, kPoison));

    // A partial last row is never copied.
    bytes = testsupport::BmpBytes(File(5, 4, 8));
    bitmap = Decode(bytes.substr(0, 1078 + 8 + 7));
    section = sim::GetSectionInfo(bitmap);
    EXPECT_EQ(std::string(section->bits.begin(), section->bits.begin() + 8), bytes.substr(1078, 8));
    EXPECT_EQ(std::vector<uint8_t>(section->bits.begin() + 8, section->bits.end()), std::vector<uint8_t>(24, kPoison));
}

TEST_F(SplashSection, ShortFiles) {
    // 54 bytes of valid headers: a bitmap with no row copied.
    std::string headers = testsupport::BmpBytes(File(1, 1, 24)).substr(0, 54);
    platform::HBITMAP bitmap = Decode(headers);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(sim::GetSectionInfo(bitmap)->bits, std::vector<uint8_t>(4, kPoison));

    // A 1 x 1 24-bit row needs 4 bytes: 57 bytes copy nothing, 58 copy it.
    std::string full = testsupport::BmpBytes(File(1, 1, 24));
    ASSERT_EQ(full.size(), 58u);
    EXPECT_EQ(sim::GetSectionInfo(Decode(full.substr(0, 57)))->bits, std::vector<uint8_t>(4, kPoison));
    auto bits = sim::GetSectionInfo(Decode(full))->bits;
    EXPECT_EQ(std::string(bits.begin(), bits.end()), full.substr(54));

    // A pixel-data offset beyond the end copies no row and reads nothing past the end.
    std::string beyond = full;
    testsupport::PutU32(beyond, 10, 0xFFFFFFF0u);
    EXPECT_EQ(sim::GetSectionInfo(Decode(beyond))->bits, std::vector<uint8_t>(4, kPoison));
    testsupport::PutU32(beyond, 10, 59);
    EXPECT_EQ(sim::GetSectionInfo(Decode(beyond))->bits, std::vector<uint8_t>(4, kPoison));
}

TEST_F(SplashSection, EveryCutLengthDecodesWhatIsThereAndReadsNoFurther) {
    // Each prefix of a file sits alone in a block of its own size, so a read
    // past its end is caught by the address sanitizer; what was read must be
    // exactly the whole palette entries and whole rows inside the prefix.
    for (uint16_t bits : {1, 4, 8, 24}) {
        testsupport::BmpFile file = File(5, 3, bits);
        const std::string full = testsupport::BmpBytes(file);
        const uint32_t offset = 54 + 4 * static_cast<uint32_t>(file.palette.size());
        const uint32_t stride = splash::SplashStride(bits, 5);
        ASSERT_EQ(full.size(), offset + 3 * stride);
        for (uint32_t length = 0; length <= full.size(); ++length) {
            SCOPED_TRACE(testing::Message() << bits << " bits cut at " << length);
            std::vector<char> prefix(full.begin(), full.begin() + length);
            width = height = kUntouched;
            platform::HBITMAP bitmap =
                splash::DecodeSplashBmp(prefix.empty() ? nullptr : prefix.data(), length, &width, &height);
            if (length < 54) {
                EXPECT_EQ(bitmap, nullptr);
                continue;
            }
            ASSERT_NE(bitmap, nullptr);
            EXPECT_EQ(width, 5);
            EXPECT_EQ(height, 3);
            auto section = sim::GetSectionInfo(bitmap);
            ASSERT_TRUE(section.has_value());

            uint32_t rows = length > offset ? std::min<uint32_t>((length - offset) / stride, 3) : 0;
            std::string copied(section->bits.begin(), section->bits.begin() + rows * stride);
            EXPECT_EQ(copied, full.substr(offset, rows * stride));
            EXPECT_EQ(std::vector<uint8_t>(section->bits.begin() + rows * stride, section->bits.end()),
                      std::vector<uint8_t>((3 - rows) * stride, kPoison));

            uint32_t entries = (std::min(length, offset) - 54) / 4;
            for (uint32_t i = 0; i < file.palette.size(); ++i) {
                uint32_t expected = i < entries ? testsupport::Colour(file.palette[i]) : 0u;
                ASSERT_EQ(testsupport::Colour(section->palette[i]), expected) << "palette entry " << i;
            }
            sim::Reset();
            sim::SetSectionFill(kPoison);
        }
    }
}

TEST_F(SplashSection, OffsetInsideTheHeadersReadsOnlyTheResource) {
    // Rows start where the file says, even inside its headers, and stop at its end:
    // 54 bytes from offset 0 hold 4 rows of 12 bytes (3 pixels of 24 bits).
    std::string bytes = testsupport::BmpBytes(File(3, 6, 24)).substr(0, 54);
    testsupport::PutU32(bytes, 10, 0);
    platform::HBITMAP bitmap = Decode(bytes);
    ASSERT_NE(bitmap, nullptr);
    auto section = sim::GetSectionInfo(bitmap);
    EXPECT_EQ(std::string(section->bits.begin(), section->bits.begin() + 48), bytes.substr(0, 48));
    EXPECT_EQ(std::vector<uint8_t>(section->bits.begin() + 48, section->bits.end()), std::vector<uint8_t>(24, kPoison));

    splash::SplashBmpLayout layout;
    ASSERT_TRUE(splash::CheckSplashBmp(bytes.data(), 54, &layout));
    EXPECT_EQ(layout.rowsCopied, 4u);
    EXPECT_EQ(layout.paletteCopied, 0u);
}

TEST_F(SplashSection, PaletteCopies) {
    // 8 bits, offset 1078: all 256 entries.
    testsupport::BmpFile file = File(2, 1, 8);
    auto section = sim::GetSectionInfo(Decode(testsupport::BmpBytes(file)));
    ASSERT_TRUE(section.has_value());
    ASSERT_EQ(section->palette.size(), 256u);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(testsupport::Colour(section->palette[i]), testsupport::Colour(file.palette[i])) << i;

    // 4 bits, offset 54 + 4 x 16 = 118: all 16.
    file = File(2, 1, 4);
    std::string bytes = testsupport::BmpBytes(file);
    ASSERT_EQ(bytes.substr(10, 4), std::string("\x76\0\0\0", 4));
    section = sim::GetSectionInfo(Decode(bytes));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(testsupport::Colour(section->palette[i]), testsupport::Colour(file.palette[i])) << i;

    // Fewer entries than the bit count allows: the rest are black, not whatever was there.
    file = File(2, 1, 8);
    file.palette = testsupport::RampPalette(3);
    section = sim::GetSectionInfo(Decode(testsupport::BmpBytes(file)));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(testsupport::Colour(section->palette[i]), testsupport::Colour(file.palette[i])) << i;
    for (int i = 3; i < 256; ++i) ASSERT_EQ(testsupport::Colour(section->palette[i]), 0u) << i;

    // More entries between the headers and the rows than the palette has: 16 copied, rows from the offset.
    file = File(2, 1, 4);
    file.palette = testsupport::RampPalette(20);
    bytes = testsupport::BmpBytes(file);
    section = sim::GetSectionInfo(Decode(bytes));
    ASSERT_EQ(section->palette.size(), 16u);
    EXPECT_EQ(testsupport::Colour(section->palette[15]), testsupport::Colour(file.palette[15]));
    EXPECT_EQ(std::string(section->bits.begin(), section->bits.end()), bytes.substr(54 + 80));

    // An offset below 58 leaves no room for an entry: none copied.
    file = File(2, 1, 1);
    file.palette.clear();
    file.pixelOffset = 57;
    section = sim::GetSectionInfo(Decode(testsupport::BmpBytes(file)));
    EXPECT_EQ(testsupport::Colour(section->palette[0]), 0u);
    EXPECT_EQ(testsupport::Colour(section->palette[1]), 0u);
}

TEST_F(SplashSection, PaletteStopsAtTheEndOfTheResource) {
    // The header promises 256 entries (offset 1078), the resource holds 10 and half of another.
    testsupport::BmpFile file = File(2, 1, 8);
    std::string bytes = testsupport::BmpBytes(file).substr(0, 54 + 4 * 10 + 2);
    splash::SplashBmpLayout layout;
    ASSERT_TRUE(splash::CheckSplashBmp(bytes.data(), static_cast<uint32_t>(bytes.size()), &layout));
    EXPECT_EQ(layout.paletteEntries, 256u);
    EXPECT_EQ(layout.paletteCopied, 10u);
    EXPECT_EQ(layout.rowsCopied, 0u);
    auto section = sim::GetSectionInfo(Decode(bytes));
    ASSERT_TRUE(section.has_value());
    for (int i = 0; i < 10; ++i) EXPECT_EQ(testsupport::Colour(section->palette[i]), testsupport::Colour(file.palette[i])) << i;
    for (int i = 10; i < 256; ++i) ASSERT_EQ(testsupport::Colour(section->palette[i]), 0u) << i;
}

TEST_F(SplashSection, SectionFailuresYieldNoBitmapAndLeaveNoContext) {
    std::string bytes = testsupport::BmpBytes(File(2, 2, 24));
    sim::Fail("CreateDIBSection");
    EXPECT_EQ(Decode(bytes), nullptr);
    EXPECT_EQ(sim::OpenDCCount(), 0);

    // Without a display context the section is still made, as Windows does for RGB colours.
    sim::Fail("CreateDCW");
    EXPECT_NE(Decode(bytes), nullptr);

    sim::Reset();
    EXPECT_NE(Decode(bytes), nullptr);
    EXPECT_EQ(sim::OpenDCCount(), 0);
}

TEST_F(SplashSection, PixelsReachTheScreenAsDrawn) {
    // Each bit depth, blitted from the section at the top left of the screen,
    // shows the colour the file gives each pixel.
    for (uint16_t bits : {uint16_t{1}, uint16_t{4}, uint16_t{8}, uint16_t{24}}) {
        testsupport::BmpFile file = File(bits == 1 ? 33 : 9, 3, bits);
        sim::SetScreenSize(240, 320);
        platform::HBITMAP bitmap = Decode(testsupport::BmpBytes(file));
        ASSERT_NE(bitmap, nullptr);
        platform::HDC screen = platform::CreateDCW(u"DISPLAY", nullptr, nullptr, nullptr);
        platform::HDC memory = platform::CreateCompatibleDC(screen);
        ASSERT_NE(platform::SelectObject(memory, bitmap), nullptr);
        ASSERT_TRUE(platform::BitBlt(screen, 0, 0, file.width, file.height, memory, 0, 0, platform::SRCCOPY));
        for (int y = 0; y < file.height; ++y) {
            for (int x = 0; x < file.width; ++x) {
                uint32_t expected = bits == 24 ? file.pixel(x, y) : testsupport::Colour(file.palette[file.pixel(x, y)]);
                ASSERT_EQ(sim::ScreenPixel(x, y), expected) << bits << " bits at " << x << "," << y;
            }
        }
        EXPECT_EQ(sim::ScreenPixel(file.width, 0), sim::kDesktopColour);
        platform::DeleteDC(memory);
        platform::DeleteDC(screen);
    }
}

TEST_F(SplashSection, LoadsTheNamedResource) {
    sim::SetResource(u"SPLASHSCREEN", u"SPLASH.BMP", testsupport::BmpBytes(File(7, 5, 24)));
    int32_t w = kUntouched, h = kUntouched;
    EXPECT_NE(splash::LoadSplashBitmap(sim::LauncherModule(), "Splash.bmp", &w, &h), nullptr);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(h, 5);

    w = kUntouched;
    EXPECT_EQ(splash::LoadSplashBitmap(sim::LauncherModule(), "Other.bmp", &w, &h), nullptr);
    EXPECT_EQ(w, kUntouched);
    EXPECT_EQ(sim::CallCount("CreateDIBSection"), 1);
}

}  // namespace
