// The splash bitmap's rules: which files are taken, the strides and row
// offsets, with no section made (section_test.cpp decodes into sections).
#include "splash/bitmap.h"

#include <gtest/gtest.h>

#include <string>

#include "bmp_builder.h"

namespace {

testsupport::BmpFile File(int32_t w, int32_t h, uint16_t bits) { return testsupport::PatternBmp(w, h, bits); }

TEST(SplashBitmap, RejectionsNameTheBrokenRule) {
    using splash::SplashBmpFault;
    std::string good = testsupport::BmpBytes(File(2, 2, 24));
    auto fault = [](const std::string& bytes) {
        splash::SplashBmpLayout layout{};
        layout.fault = static_cast<SplashBmpFault>(0x7F);
        bool accepted = splash::CheckSplashBmp(bytes.data(), static_cast<uint32_t>(bytes.size()), &layout);
        EXPECT_EQ(accepted, layout.fault == SplashBmpFault::kNone);
        return layout.fault;
    };
    EXPECT_EQ(fault(good), SplashBmpFault::kNone);
    EXPECT_EQ(fault(good.substr(0, 53)), SplashBmpFault::kTooShort);
    std::string bytes = good;
    bytes[1] = 'N';
    EXPECT_EQ(fault(bytes), SplashBmpFault::kNotBitmap);
    // The earlier rule wins: a file broken twice reports the first.
    testsupport::PutU32(bytes, 14, 12);
    EXPECT_EQ(fault(bytes), SplashBmpFault::kNotBitmap);
    bytes = good;
    testsupport::PutU32(bytes, 14, 108);
    EXPECT_EQ(fault(bytes), SplashBmpFault::kHeaderSize);
    bytes = good;
    testsupport::PutU32(bytes, 22, static_cast<uint32_t>(-2));
    EXPECT_EQ(fault(bytes), SplashBmpFault::kSize);
    bytes = good;
    testsupport::PutU16(bytes, 28, 16);
    EXPECT_EQ(fault(bytes), SplashBmpFault::kBitCount);
    testsupport::PutU32(bytes, 30, 1);
    EXPECT_EQ(fault(bytes), SplashBmpFault::kBitCount);
    bytes = good;
    testsupport::PutU32(bytes, 30, 3);
    EXPECT_EQ(fault(bytes), SplashBmpFault::kCompressed);
    // Missing rows are no rejection: the decoder shows what is there.
    EXPECT_EQ(fault(good.substr(0, good.size() - 1)), SplashBmpFault::kNone);
}

TEST(SplashBitmap, StridesAndRowOffsets) {
    EXPECT_EQ(splash::SplashStride(24, 1), 4u);
    EXPECT_EQ(splash::SplashStride(24, 3), 12u);
    EXPECT_EQ(splash::SplashStride(24, 5), 16u);
    EXPECT_EQ(splash::SplashStride(8, 5), 8u);
    EXPECT_EQ(splash::SplashStride(1, 33), 8u);
    EXPECT_EQ(splash::SplashStride(4, 9), 8u);
    EXPECT_EQ(splash::SplashStride(1, 32), 4u);
    EXPECT_EQ(splash::SplashStride(24, 65535), 196608u);

    // The last row of the largest 24-bit bitmap starts beyond 4 GiB.
    uint32_t stride = splash::SplashStride(24, 65535);
    EXPECT_EQ(splash::SplashRowOffset(65534, stride), 12884508672ull);
}

}  // namespace
