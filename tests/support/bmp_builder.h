// ***Used only by the tests***: bitmap files as a paint program writes them
// (file header, 40-byte info header, palette, rows bottom-up and padded to 4
// bytes), with every header field a test may want to get wrong within reach.
// The launcher's tests seed them as "SplashScreen" resources; kelpack's
// tests pack them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "le_bytes.h"

namespace testsupport {

// A palette entry as the file stores it (blue, green, red, reserved), with
// the field names of the platform's RGBQUAD; the core's tests see no platform header.
struct PaletteEntry {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};

struct BmpFile {
    int32_t width = 1;
    int32_t height = 1;
    uint16_t bitCount = 24;
    uint32_t headerSize = 40;
    uint32_t compression = 0;
    std::vector<PaletteEntry> palette;        // written between the headers and the rows
    int64_t pixelOffset = -1;                 // -1: right after the palette
    // The pixel at (x, y) counted from the top left: a palette index, or 0x00RRGGBB for 24 bits.
    std::function<uint32_t(int x, int y)> pixel = [](int, int) { return 0u; };
    int32_t rowsWritten = -1;                 // -1: every row; fewer leaves the file short (top rows missing)
};

// Bytes per row in a bitmap file.
inline uint32_t BmpStride(uint16_t bitCount, int32_t width) {
    return (static_cast<uint32_t>(bitCount) * static_cast<uint32_t>(width) + 31) / 32 * 4;
}

// One row (y counted from the top) as the file stores it.
inline std::string BmpRow(const BmpFile& file, int y) {
    std::string row(BmpStride(file.bitCount, file.width), '\0');
    for (int x = 0; x < file.width; ++x) {
        uint32_t value = file.pixel(x, y);
        switch (file.bitCount) {
            case 1: row[x / 8] = static_cast<char>(row[x / 8] | ((value & 1) << (7 - x % 8))); break;
            case 4: row[x / 2] = static_cast<char>(row[x / 2] | ((value & 0x0F) << (x % 2 == 0 ? 4 : 0))); break;
            case 8: row[x] = static_cast<char>(value); break;
            case 24:
                row[3 * x] = static_cast<char>(value & 0xFF);
                row[3 * x + 1] = static_cast<char>((value >> 8) & 0xFF);
                row[3 * x + 2] = static_cast<char>((value >> 16) & 0xFF);
                break;
            default: break;
        }
    }
    return row;
}

// The whole file.
inline std::string BmpBytes(const BmpFile& file) {
    std::string bytes(54, '\0');
    bytes[0] = 'B';
    bytes[1] = 'M';
    for (const auto& q : file.palette) {
        bytes.push_back(static_cast<char>(q.rgbBlue));
        bytes.push_back(static_cast<char>(q.rgbGreen));
        bytes.push_back(static_cast<char>(q.rgbRed));
        bytes.push_back(static_cast<char>(q.rgbReserved));
    }
    uint32_t offset = file.pixelOffset >= 0 ? static_cast<uint32_t>(file.pixelOffset)
                                            : static_cast<uint32_t>(bytes.size());
    if (bytes.size() < offset) bytes.resize(offset, '\0');
    // Bottom row first.
    int32_t rows = file.rowsWritten >= 0 ? file.rowsWritten : file.height;
    if (file.pixelOffset < 0 || file.pixelOffset >= 54) {
        for (int32_t i = 0; i < rows && i < file.height; ++i) bytes += BmpRow(file, file.height - 1 - i);
    }
    PutU32(bytes, 2, static_cast<uint32_t>(bytes.size()));
    PutU32(bytes, 10, offset);
    PutU32(bytes, 14, file.headerSize);
    PutU32(bytes, 18, static_cast<uint32_t>(file.width));
    PutU32(bytes, 22, static_cast<uint32_t>(file.height));
    PutU16(bytes, 26, 1);
    PutU16(bytes, 28, file.bitCount);
    PutU32(bytes, 30, file.compression);
    return bytes;
}

// A palette of n distinct colours: entry i is (r, g, b) = (i, 255 - i, i * 7 mod 256).
inline std::vector<PaletteEntry> RampPalette(int n) {
    std::vector<PaletteEntry> palette;
    for (int i = 0; i < n; ++i) {
        palette.push_back({static_cast<uint8_t>(i * 7), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i), 0});
    }
    return palette;
}

// A bitmap of the given size and depth whose pixels differ from their
// neighbours: a full ramp palette for 1 to 8 bits, a colour gradient for 24.
inline BmpFile PatternBmp(int32_t width, int32_t height, uint16_t bitCount) {
    BmpFile file;
    file.width = width;
    file.height = height;
    file.bitCount = bitCount;
    if (bitCount <= 8) file.palette = RampPalette(1 << bitCount);
    file.pixel = [bitCount](int x, int y) {
        return bitCount == 24 ? static_cast<uint32_t>(0x010203 * (x + 1) + 0x100000 * y)
                              : static_cast<uint32_t>((x + 3 * y) % (1 << bitCount));
    };
    return file;
}

// PatternBmp's file as the byte buffer kelpack reads files into.
inline std::vector<uint8_t> PatternBmpBytes(int32_t width, int32_t height, uint16_t bitCount = 24) {
    std::string bytes = BmpBytes(PatternBmp(width, height, bitCount));
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// The colour of a palette entry (the file's, or the platform's RGBQUAD) as the screen shows it.
template <typename Quad>
inline uint32_t Colour(const Quad& q) {
    return (static_cast<uint32_t>(q.rgbRed) << 16) | (static_cast<uint32_t>(q.rgbGreen) << 8) | q.rgbBlue;
}

}  // namespace testsupport
