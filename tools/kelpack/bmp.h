// Checks that a splash bitmap file is one the launcher accepts, before it is
// packed: a bottom-up, uncompressed BMP with a 40-byte header and 1, 4, 8 or
// 24 bits per pixel, whose pixel rows are all present.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelpack {

// What the header says about an accepted bitmap.
struct BmpInfo {
    std::int32_t width = 0;       // pixels
    std::int32_t height = 0;      // pixels (bottom-up, so positive)
    std::uint16_t bit_count = 0;  // 1, 4, 8 or 24
    std::uint32_t pixel_offset = 0;  // where the rows begin
    std::uint32_t stride = 0;     // bytes per row, padded to 4
};

// Bytes per row of a bitmap: whole bytes, rounded up to a multiple of 4.
std::uint32_t bmp_stride(std::uint32_t bit_count, std::uint32_t width);

// Checks `bytes` and fills `info`. On failure `error` gives the reason in a
// person's words (e.g. "it is stored top-down (negative height)").
bool check_bitmap(const std::vector<std::uint8_t>& bytes, BmpInfo* info, std::string* error);

// The advice printed after a rejected bitmap: how to convert it.
std::string bitmap_conversion_hint(const std::string& path);

}  // namespace kelpack
