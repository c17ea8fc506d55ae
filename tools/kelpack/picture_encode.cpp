// Pictures fitted for the launcher: counted, their size fitted to a splash
// entry's box, and written as the smallest BMP of the launcher's subset
// that holds them exactly.
#include "picture.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "byteio.h"

namespace kelpack {

namespace {

constexpr std::uint32_t kFileHeaderBytes = 14;
constexpr std::uint32_t kInfoHeaderBytes = 40;
constexpr std::uint32_t kPixelsPerMetre = 2835;  // 72 dots per inch, as paint programs write

}  // namespace

std::uint64_t BmpRowBytes(std::uint16_t bits, std::int64_t width) {
    return (static_cast<std::uint64_t>(bits) * static_cast<std::uint64_t>(width) + 31) / 32 * 4;
}

std::uint32_t CountColours(const Picture& p, std::uint32_t limit) {
    std::unordered_set<std::uint32_t> seen;
    for (std::size_t i = 0; i + 2 < p.rgb.size() && seen.size() <= limit; i += 3)
        seen.insert(static_cast<std::uint32_t>(p.rgb[i]) << 16 | static_cast<std::uint32_t>(p.rgb[i + 1]) << 8 | p.rgb[i + 2]);
    return static_cast<std::uint32_t>(seen.size());
}

void FitSize(std::int32_t w, std::int32_t h, std::uint32_t boxW, std::uint32_t boxH, std::int32_t* fitW, std::int32_t* fitH) {
    *fitW = w;
    *fitH = h;
    if (boxW == 0 || boxH == 0 || (static_cast<std::uint32_t>(w) <= boxW && static_cast<std::uint32_t>(h) <= boxH)) return;
    std::uint64_t W = static_cast<std::uint64_t>(w), H = static_cast<std::uint64_t>(h);
    // The side that meets the box takes its length; the other rounds to nearest.
    if (W * boxH >= H * boxW) {
        *fitW = static_cast<std::int32_t>(boxW);
        *fitH = static_cast<std::int32_t>(std::max<std::uint64_t>(1, (2 * H * boxW + W) / (2 * W)));
    } else {
        *fitH = static_cast<std::int32_t>(boxH);
        *fitW = static_cast<std::int32_t>(std::max<std::uint64_t>(1, (2 * W * boxH + H) / (2 * H)));
    }
}

std::uint64_t Bmp24Bytes(std::int32_t width, std::int32_t height) {
    return kFileHeaderBytes + kInfoHeaderBytes + BmpRowBytes(24, width) * static_cast<std::uint64_t>(height);
}

EncodedBmp EncodeBmp(const Picture& p) {
    const std::size_t pixels = p.rgb.size() / 3;
    auto at = [&](std::size_t i) {
        return (static_cast<std::uint32_t>(p.rgb[3 * i]) << 16) | (static_cast<std::uint32_t>(p.rgb[3 * i + 1]) << 8) |
               p.rgb[3 * i + 2];
    };
    // The distinct colours, counted until there are too many for a palette.
    std::unordered_map<std::uint32_t, std::uint32_t> index;
    std::vector<std::uint32_t> colours;
    for (std::size_t i = 0; i < pixels && colours.size() <= kMaxPaletteColours; ++i) {
        std::uint32_t c = at(i);
        if (index.emplace(c, 0).second) colours.push_back(c);
    }
    EncodedBmp out;
    out.distinct = static_cast<std::uint32_t>(colours.size());
    out.paletteBits = colours.size() <= 2 ? 1 : colours.size() <= 16 ? 4 : colours.size() <= kMaxPaletteColours ? 8 : 0;
    std::uint16_t bits = 24;
    if (out.paletteBits != 0) {
        // The palette costs four bytes a colour; a tiny picture of many
        // colours is smaller without one.
        out.paletteFileBytes = kFileHeaderBytes + kInfoHeaderBytes + 4 * colours.size() +
                               BmpRowBytes(out.paletteBits, p.width) * static_cast<std::uint64_t>(p.height);
        if (out.paletteFileBytes <= Bmp24Bytes(p.width, p.height)) bits = out.paletteBits;
    }
    if (bits == 24) colours.clear();
    std::sort(colours.begin(), colours.end());
    for (std::uint32_t i = 0; i < colours.size(); ++i) index[colours[i]] = i;

    const std::uint64_t stride = BmpRowBytes(bits, p.width);
    const std::uint32_t offset = kFileHeaderBytes + kInfoHeaderBytes + 4 * static_cast<std::uint32_t>(colours.size());
    const std::uint64_t imageBytes = stride * static_cast<std::uint64_t>(p.height);
    std::vector<std::uint8_t>& b = out.bytes;
    b.reserve(offset + static_cast<std::size_t>(imageBytes));
    b.push_back('B');
    b.push_back('M');
    AppendU32(&b, static_cast<std::uint32_t>(offset + imageBytes));
    AppendU32(&b, 0);
    AppendU32(&b, offset);
    AppendU32(&b, kInfoHeaderBytes);
    AppendU32(&b, static_cast<std::uint32_t>(p.width));
    AppendU32(&b, static_cast<std::uint32_t>(p.height));
    AppendU16(&b, 1);
    AppendU16(&b, bits);
    AppendU32(&b, 0);
    AppendU32(&b, static_cast<std::uint32_t>(imageBytes));
    AppendU32(&b, kPixelsPerMetre);
    AppendU32(&b, kPixelsPerMetre);
    AppendU32(&b, static_cast<std::uint32_t>(colours.size()));
    AppendU32(&b, 0);
    for (std::uint32_t c : colours) AppendU32(&b, c);  // blue, green, red, 0: the colour's own bytes, low first
    // Rows bottom-up, each padded to a multiple of four bytes.
    for (std::int32_t y = p.height - 1; y >= 0; --y) {
        std::size_t start = b.size();
        b.resize(start + static_cast<std::size_t>(stride), 0);
        std::uint8_t* row = b.data() + start;
        for (std::int32_t x = 0; x < p.width; ++x) {
            std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width) + static_cast<std::size_t>(x);
            if (bits == 24) {
                row[3 * x] = p.rgb[3 * i + 2];
                row[3 * x + 1] = p.rgb[3 * i + 1];
                row[3 * x + 2] = p.rgb[3 * i];
            } else {
                std::size_t bit = static_cast<std::size_t>(x) * bits;
                row[bit / 8] = static_cast<std::uint8_t>(row[bit / 8] | (index[at(i)] << (8 - bits - bit % 8)));
            }
        }
    }
    out.bitCount = bits;
    out.colours = static_cast<std::uint32_t>(colours.size());
    return out;
}

}  // namespace kelpack
