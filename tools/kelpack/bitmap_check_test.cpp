#include "bitmap_check.h"

#include <gtest/gtest.h>

#include "byteio.h"

#include "bmp_builder.h"

namespace kelpack {
namespace {

using testsupport::PatternBmpBytes;

std::string Rejection(const std::vector<std::uint8_t>& b) {
    BmpInfo info;
    std::string error;
    EXPECT_FALSE(CheckBitmap(b, &info, &error));
    return error;
}

TEST(BitmapCheck, AcceptsEachBitCountAndReportsTheHeader) {
    for (std::uint16_t bits : {1, 4, 8, 24}) {
        BmpInfo info;
        std::string error;
        ASSERT_TRUE(CheckBitmap(PatternBmpBytes(33, 7, bits), &info, &error)) << bits << ": " << error;
        EXPECT_EQ(info.width, 33);
        EXPECT_EQ(info.height, 7);
        EXPECT_EQ(info.bitCount, bits);
        EXPECT_EQ(info.stride, splash::SplashStride(bits, 33));
        EXPECT_EQ(info.rowsPresent, 7u);
        EXPECT_EQ(info.pixelOffset, bits == 24 ? 54u : 54u + (4u << bits));
    }
}

TEST(BitmapCheck, RejectsWhatTheLauncherRefusesAndSaysWhy) {
    std::vector<std::uint8_t> b = PatternBmpBytes(10, 10, 24);
    auto with = [&](std::size_t off, std::uint32_t v, int width) {
        std::vector<std::uint8_t> c = b;
        width == 2 ? PutU16(&c, off, v) : PutU32(&c, off, v);
        return c;
    };
    std::vector<std::uint8_t> png = b;
    png[0] = 0x89;
    png[1] = 'P';
    EXPECT_NE(Rejection(png).find("not a BMP"), std::string::npos);
    EXPECT_NE(Rejection({'B', 'M'}).find("2 bytes long, too short"), std::string::npos);
    EXPECT_NE(Rejection(std::vector<std::uint8_t>(b.begin(), b.begin() + 53)).find("too short"), std::string::npos);
    for (std::uint32_t size : {12u, 108u, 124u})
        EXPECT_NE(Rejection(with(14, size, 4)).find("header is " + std::to_string(size) + " bytes; only the 40-byte"), std::string::npos) << size;
    EXPECT_NE(Rejection(with(22, static_cast<std::uint32_t>(-10), 4)).find("top-down"), std::string::npos);
    EXPECT_NE(Rejection(with(18, 0, 4)).find("out of range"), std::string::npos);
    EXPECT_NE(Rejection(with(22, 0, 4)).find("out of range"), std::string::npos);
    EXPECT_NE(Rejection(with(18, 65536, 4)).find("out of range"), std::string::npos);
    EXPECT_NE(Rejection(with(18, static_cast<std::uint32_t>(-5), 4)).find("out of range"), std::string::npos);
    for (std::uint32_t bits : {0u, 2u, 16u, 32u})
        EXPECT_NE(Rejection(with(28, bits, 2)).find("has " + std::to_string(bits) + " bits per pixel"), std::string::npos) << bits;
    for (std::uint32_t c : {1u, 2u, 3u})
        EXPECT_NE(Rejection(with(30, c, 4)).find("compressed (compression " + std::to_string(c) + ")"), std::string::npos) << c;
    EXPECT_NE(Rejection(with(10, 20, 4)).find("into its headers"), std::string::npos);
}

TEST(BitmapCheck, EveryRowMustBePresent) {
    std::vector<std::uint8_t> b = PatternBmpBytes(5, 4, 24);  // stride 16, 64 bytes of pixels
    BmpInfo info;
    std::string error;
    EXPECT_TRUE(CheckBitmap(b, &info, &error));
    b.pop_back();
    EXPECT_NE(Rejection(b).find("63 bytes of pixels, fewer than its 4 rows of 16 bytes need (64)"), std::string::npos) << Rejection(b);
    std::vector<std::uint8_t> far = PatternBmpBytes(5, 4, 24);
    PutU32(&far, 10, 0x7FFFFFFF);
    EXPECT_NE(Rejection(far).find("0 bytes of pixels"), std::string::npos);
    // The largest size is accepted when its rows are there.
    std::vector<std::uint8_t> tall = PatternBmpBytes(1, 65535, 1);
    EXPECT_TRUE(CheckBitmap(tall, &info, &error)) << error;
}

// The launcher shows a file with rows missing or pixel data inside the headers;
// the packer refuses both, so the two verdicts differ exactly there.
TEST(BitmapCheck, TheLauncherDecodesWhatThePackerRefuses) {
    BmpInfo info;
    std::string error;
    std::vector<std::uint8_t> shortRows = PatternBmpBytes(5, 4, 24);
    shortRows.resize(shortRows.size() - 20);  // one row and 4 bytes of the next gone
    EXPECT_TRUE(LauncherDecodes(shortRows, &info, &error)) << error;
    EXPECT_EQ(info.rowsPresent, 2u);
    EXPECT_FALSE(CheckBitmap(shortRows, &info, &error));
    std::vector<std::uint8_t> inside = PatternBmpBytes(5, 4, 24);
    PutU32(&inside, 10, 20);
    EXPECT_TRUE(LauncherDecodes(inside, &info, &error)) << error;
    EXPECT_EQ(Rejection(inside), "its pixel data offset 20 points into its headers");
    std::vector<std::uint8_t> top = PatternBmpBytes(5, 4, 24);
    PutU32(&top, 22, static_cast<std::uint32_t>(-4));
    EXPECT_FALSE(LauncherDecodes(top, &info, &error));
    EXPECT_NE(error.find("top-down"), std::string::npos);
}

}  // namespace
}  // namespace kelpack
