// Splash bitmaps as the launcher sees them, in a person's words. Whether the
// launcher shows a file is decided by its own decoder checks
// (splash::CheckSplashBmp); the packer asks a little more before it packs a
// file: all of its rows, and pixel data that starts after the headers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "splash/bitmap.h"

namespace kelpack {

// What the header says about an accepted bitmap.
struct BmpInfo {
    std::int32_t width = 0;          // pixels
    std::int32_t height = 0;         // pixels (bottom-up, so positive)
    std::uint16_t bitCount = 0;      // 1, 4, 8 or 24
    std::uint32_t pixelOffset = 0;   // where the rows begin
    std::uint32_t stride = 0;        // bytes per row, padded to 4
    std::uint32_t rowsPresent = 0;   // whole rows the file holds, at most height
    std::uint32_t paletteCopied = 0; // palette entries the launcher takes from the file; the rest show black
};

// Runs the launcher's decoder checks on `bytes`. True when the launcher
// decodes the file (perhaps with rows missing); otherwise `error` says which
// rule it breaks (e.g. "it is stored top-down (negative height)").
bool LauncherDecodes(const std::vector<std::uint8_t>& bytes, BmpInfo* info, std::string* error);

// The packer's check: what the launcher decodes, with every row present and
// the pixel data after the headers. On failure `error` gives the reason.
bool CheckBitmap(const std::vector<std::uint8_t>& bytes, BmpInfo* info, std::string* error);

}  // namespace kelpack
