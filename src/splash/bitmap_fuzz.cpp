// Fuzzes the splash bitmap decoder on the simulated platform. The input is
// the resource itself; it is copied into a heap block of exactly its length,
// so that AddressSanitizer reports any read past the end, whatever the
// header fields claim.
//
// Besides the sanitizers, the decoded section is compared with the input
// without the decoder's own arithmetic: the size and bit count come from the
// header, every whole row the file holds is in the section byte for byte, the
// rows it lacks keep the section's fill, the palette holds the entries that
// lie between the headers and the pixel data and inside the file, black
// after them; and the size outputs stay untouched when the header was never read.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "sim.h"
#include "splash/bitmap.h"
#include "splash/section.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

constexpr uint8_t kFill = 0xA5;
constexpr int32_t kUntouched = static_cast<int32_t>(0xdeadbeef);
// Sections above this are refused in this harness, as a device out of memory
// refuses them: that path is fuzzed too, and each run stays fast.
constexpr uint64_t kMaxFuzzSectionBytes = uint64_t{256} << 10;

uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    auto* bytes = static_cast<uint8_t*>(std::malloc(size > 0 ? size : 1));
    if (size > 0) std::memcpy(bytes, data, size);
    const uint32_t length = static_cast<uint32_t>(size);

    // The simulation keeps every section until it is reset; resetting now and
    // then keeps memory bounded without paying for a reset on every run.
    static int runs = 0;
    if (runs++ % 32 == 0) {
        sim::Reset();
        sim::SetSectionFill(kFill);
    }

    // What the header says, read here on its own terms.
    bool header = length >= 54 && bytes[0] == 'B' && bytes[1] == 'M' && U32(bytes + 14) == 40;
    int32_t w = header ? static_cast<int32_t>(U32(bytes + 18)) : 0;
    int32_t h = header ? static_cast<int32_t>(U32(bytes + 22)) : 0;
    uint16_t bits = header ? static_cast<uint16_t>(bytes[28] | (bytes[29] << 8)) : 0;
    bool accepted = header && w >= 1 && w <= 65535 && h >= 1 && h <= 65535 &&
                    (bits == 1 || bits == 4 || bits == 8 || bits == 24) && U32(bytes + 30) == 0;
    uint64_t stride = accepted ? (static_cast<uint64_t>(bits) * static_cast<uint64_t>(w) + 31) / 32 * 4 : 0;
    bool refused = accepted && stride * static_cast<uint64_t>(h) > kMaxFuzzSectionBytes;
    if (refused) sim::Fail("CreateDIBSection");

    int32_t width = kUntouched;
    int32_t height = kUntouched;
    platform::HBITMAP bitmap = splash::DecodeSplashBmp(bytes, length, &width, &height);

    if (!header) {
        Check(bitmap == nullptr && width == kUntouched && height == kUntouched);
    } else {
        Check(width == w && height == h);
    }
    Check((bitmap != nullptr) == (accepted && !refused));

    if (bitmap != nullptr) {
        auto section = sim::GetSectionInfo(bitmap);
        Check(section.has_value());
        Check(section->width == w && section->height == h && section->bitCount == bits);
        Check(section->stride == stride);
        uint32_t pixelOffset = U32(bytes + 10);
        uint64_t rows = length > pixelOffset ? (length - pixelOffset) / stride : 0;
        if (rows > static_cast<uint64_t>(h)) rows = static_cast<uint64_t>(h);
        const uint8_t* out = section->bits.data();
        for (uint64_t row = 0; row < static_cast<uint64_t>(h); ++row) {
            const uint8_t* line = out + row * stride;
            if (row < rows) {
                Check(std::memcmp(line, bytes + pixelOffset + row * stride, stride) == 0);
            } else {
                for (uint64_t i = 0; i < stride; ++i) Check(line[i] == kFill);
            }
        }
        if (bits <= 8) {
            size_t entries = size_t{1} << bits;
            Check(section->palette.size() == entries);
            // Whole entries from byte 54 up to the pixel data, and inside the file.
            uint64_t end = pixelOffset < length ? pixelOffset : length;
            size_t supplied = end > 54 ? static_cast<size_t>((end - 54) / 4) : 0;
            if (supplied > entries) supplied = entries;
            for (size_t i = 0; i < entries; ++i) {
                const platform::RGBQUAD& q = section->palette[i];
                if (i < supplied) {
                    Check(std::memcmp(&q, bytes + 54 + 4 * i, 4) == 0);
                } else {
                    Check(q.rgbBlue == 0 && q.rgbGreen == 0 && q.rgbRed == 0 && q.rgbReserved == 0);
                }
            }
        }
    }
    Check(sim::OpenDCCount() == 0);
    std::free(bytes);
    return 0;
}
