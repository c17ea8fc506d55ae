// Splash bitmap checks: a bitmap file stored as a "SplashScreen" resource,
// checked against the small subset the launcher accepts, the plan of what
// decoding copies from it, and the copying itself. They need no GDI, so
// kelpack can tell whether a packaged bitmap would be shown and what it
// shows; splash/section.h decodes into a bitmap section with them.
#pragma once

#include <cstdint>

namespace splash {

// Bytes of the two headers that every accepted file starts with.
const uint32_t kSplashHeaderBytes = 54;
// Bytes of one palette entry (blue, green, red, reserved).
const uint32_t kSplashPaletteEntryBytes = 4;

// The first rule a rejected file breaks, in the order the checks run.
// (Unscoped: the device compiler cannot compare scoped enumerations; the
// enumerators are still written qualified, Name::kValue.)
enum SplashBmpFault : uint8_t {
    kNone,            // accepted
    kTooShort,        // fewer bytes than the two headers
    kNotBitmap,       // does not start with "BM"
    kHeaderSize,      // the info header is not the 40-byte one
    kSize,            // width or height not 1 to 65535 (a top-down file has a negative height)
    kBitCount,        // not 1, 4, 8 or 24 bits per pixel
    kCompressed,      // not BI_RGB
};

// What the checks learn about an accepted file, and what decoding will copy from it.
struct SplashBmpLayout {
    int32_t width;              // 1 to 65535
    int32_t height;             // 1 to 65535; the file stores its bottom row first
    uint16_t bitCount;          // 1, 4, 8 or 24
    uint32_t pixelOffset;       // where the pixel rows begin, as the file says
    uint32_t stride;            // bytes per row, padded to a multiple of 4
    uint32_t paletteEntries;    // entries the bit count calls for (0 for 24 bits)
    uint32_t paletteCopied;     // entries the file supplies, wholly inside it
    uint32_t rowsCopied;        // whole rows the file holds, at most height
    SplashBmpFault fault;       // why the file was rejected; kNone when accepted
};

// Row stride in bytes: the bits of a row rounded up to bytes, then to a multiple of 4.
uint32_t SplashStride(uint16_t bitCount, int32_t width);
// Byte offset of a row in the pixel memory; rows of the largest bitmaps lie beyond 4 GiB.
uint64_t SplashRowOffset(uint32_t row, uint32_t stride);
// Checks the accepted subset and lays the file out; false when rejected, with the
// broken rule in fault. Width and height are written to the layout as soon as the
// header size is accepted.
bool CheckSplashBmp(const void* bytes, uint32_t length, SplashBmpLayout* layout);
// Fills paletteEntries entries (4 bytes each) at palette: the paletteCopied ones the file
// supplies, then black, so that entries it lacks show black rather than what memory held.
void CopySplashPalette(const void* bytes, const SplashBmpLayout& layout, void* palette);
// Copies the rowsCopied whole rows present, in file order (bottom row first), to the start of
// rows, at the layout's stride; rows beyond them are left as they are.
void CopySplashRows(const void* bytes, const SplashBmpLayout& layout, void* rows);

}  // namespace splash
