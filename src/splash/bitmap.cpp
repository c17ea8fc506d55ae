// Splash bitmap decoding.
//
// Accepted: "BM", a 40-byte info header, width and height 1 to 65535 (so the
// file is bottom-up), 1, 4, 8 or 24 bits per pixel, no compression. The
// palette runs from byte 54 to the pixel-data offset; the rows follow it.
// Every read stays inside the resource whatever its header fields claim: the
// palette and the rows are cut to what the resource really holds.
#include "splash/bitmap.h"

#include <cstdlib>
#include <cstring>


namespace splash {
namespace {

const int32_t kMaxSide = 65535;
// The first offset at which the file has room for one palette entry.
const uint32_t kFirstPaletteEnd = kSplashHeaderBytes + kSplashPaletteEntryBytes;

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t ReadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

int32_t ReadI32(const uint8_t* p) { return static_cast<int32_t>(ReadU32(p)); }

uint32_t Smaller(uint32_t a, uint32_t b) { return a < b ? a : b; }

bool Reject(SplashBmpLayout* layout, SplashBmpFault fault) {
    layout->fault = fault;
    return false;
}

}  // namespace

uint32_t SplashStride(uint16_t bitCount, int32_t width) {
    // 24 x 65535 bits fit 32 bits easily; the width is checked before this is used.
    uint32_t bytes = (static_cast<uint32_t>(bitCount) * static_cast<uint32_t>(width) + 7) / 8;
    return (bytes + 3) / 4 * 4;
}

uint64_t SplashRowOffset(uint32_t row, uint32_t stride) { return static_cast<uint64_t>(row) * stride; }

bool CheckSplashBmp(const void* data, uint32_t length, SplashBmpLayout* layout) {
    auto* bytes = static_cast<const uint8_t*>(data);
    if (length < kSplashHeaderBytes) return Reject(layout, SplashBmpFault::kTooShort);
    if (bytes[0] != 'B' || bytes[1] != 'M') return Reject(layout, SplashBmpFault::kNotBitmap);
    uint32_t pixelOffset = ReadU32(bytes + 10);
    if (ReadU32(bytes + 14) != 40) return Reject(layout, SplashBmpFault::kHeaderSize);
    layout->width = ReadI32(bytes + 18);
    layout->height = ReadI32(bytes + 22);
    if (layout->width < 1 || layout->width > kMaxSide || layout->height < 1 || layout->height > kMaxSide) {
        return Reject(layout, SplashBmpFault::kSize);
    }
    uint16_t bitCount = ReadU16(bytes + 28);
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24) return Reject(layout, SplashBmpFault::kBitCount);
    if (ReadU32(bytes + 30) != 0) return Reject(layout, SplashBmpFault::kCompressed);

    layout->fault = SplashBmpFault::kNone;
    layout->bitCount = bitCount;
    layout->pixelOffset = pixelOffset;
    layout->stride = SplashStride(bitCount, layout->width);
    layout->paletteEntries = bitCount == 24 ? 0 : (1u << bitCount);

    // Palette: the whole entries between the headers and the pixel data, no
    // more than the bit count has room for, and none that runs past the end.
    layout->paletteCopied = 0;
    if (pixelOffset >= kFirstPaletteEnd) {
        uint32_t offered = (pixelOffset - kSplashHeaderBytes) / kSplashPaletteEntryBytes;
        uint32_t present = (length - kSplashHeaderBytes) / kSplashPaletteEntryBytes;
        layout->paletteCopied = Smaller(Smaller(offered, layout->paletteEntries), present);
    }

    // Rows: whole rows only, counted in 64 bits because a pixel-data offset
    // beyond the end leaves a negative count of bytes.
    int64_t available = static_cast<int64_t>(length) - static_cast<int64_t>(pixelOffset);
    uint64_t rows = available > 0 ? static_cast<uint64_t>(available) / layout->stride : 0;
    layout->rowsCopied = rows < static_cast<uint64_t>(layout->height) ? static_cast<uint32_t>(rows)
                                                                      : static_cast<uint32_t>(layout->height);
    return true;
}

void CopySplashPalette(const void* data, const SplashBmpLayout& layout, void* palette) {
    // A 24-bit bitmap has no palette, and its caller need not have room for one.
    if (layout.paletteEntries == 0) return;
    auto* bytes = static_cast<const uint8_t*>(data);
    std::memset(palette, 0, kSplashPaletteEntryBytes * layout.paletteEntries);
    std::memcpy(palette, bytes + kSplashHeaderBytes, kSplashPaletteEntryBytes * layout.paletteCopied);
}

void CopySplashRows(const void* data, const SplashBmpLayout& layout, void* rows) {
    // The file and the section hold their rows back to back at the same
    // stride, bottom row first, so the whole rows present are one block. It
    // lies inside the file (rowsCopied is bounded by the bytes available), so
    // its size fits the file's 32-bit length. With no whole row present the
    // pixel-data offset may lie anywhere, even past the end of the address
    // space, so the source is formed only for a copy.
    uint64_t bytesCopied = SplashRowOffset(layout.rowsCopied, layout.stride);
    if (bytesCopied != 0) {
        std::memcpy(rows, static_cast<const uint8_t*>(data) + layout.pixelOffset, static_cast<size_t>(bytesCopied));
    }
}

}  // namespace splash
