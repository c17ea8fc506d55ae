#include "picture.h"

#include <stb_image.h>
#include <stb_image_resize.h>

#include <algorithm>
#include <climits>

#include "bitmap_check.h"
#include "byteio.h"

namespace kelpack {

namespace {

constexpr std::int64_t kMaxSide = 65535;
constexpr std::uint32_t kFileHeaderBytes = 14;
constexpr std::uint32_t kInfoHeaderBytes = 40;
constexpr std::uint32_t kRle8 = 1;
constexpr std::uint32_t kRle4 = 2;
// What a cut-off file is told apart by, whatever its format.
constexpr const char kEndsEarly[] = "the file ends early";

// Sets pixel (x, y), counted from the top left.
void Put(Picture* p, std::int64_t x, std::int64_t y, Rgb c) {
    std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(p->width) + static_cast<std::size_t>(x)) * 3;
    p->rgb[i] = c.r;
    p->rgb[i + 1] = c.g;
    p->rgb[i + 2] = c.b;
}

// The bounds every picture is held to, whatever its format, checked before
// any pixel is decoded; false with the same reason for each format.
bool CheckSize(std::int64_t width, std::int64_t height, std::uint64_t maxPixels, std::string* error) {
    if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide) {
        *error = "its size " + std::to_string(width) + "x" + std::to_string(height) +
                 " is out of range; width and height must be 1 to 65535";
        return false;
    }
    std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (pixels > maxPixels) {
        *error = "it is " + std::to_string(width) + "x" + std::to_string(height) + " (" + std::to_string(pixels) +
                 " pixels), more than the " + std::to_string(maxPixels) + " kelpack decodes; scale it down first";
        return false;
    }
    return true;
}

bool SizePicture(Picture* p, std::int64_t width, std::int64_t height, std::uint64_t maxPixels, Rgb fill, std::string* error) {
    if (!CheckSize(width, height, maxPixels, error)) return false;
    std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    p->width = static_cast<std::int32_t>(width);
    p->height = static_cast<std::int32_t>(height);
    p->rgb.assign(static_cast<std::size_t>(pixels) * 3, 0);
    for (std::size_t i = 0; i < p->rgb.size(); i += 3) {
        p->rgb[i] = fill.r;
        p->rgb[i + 1] = fill.g;
        p->rgb[i + 2] = fill.b;
    }
    return true;
}

// The palette index of pixel x in a row of 1, 4 or 8 bits, first pixel in the high bits.
std::uint32_t IndexAt(const std::uint8_t* row, std::uint16_t bits, std::int32_t x) {
    std::size_t bit = static_cast<std::size_t>(x) * bits;
    return (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

// Pixel x of an uncompressed row: a palette index at 1, 4 or 8 bits (an
// index beyond the palette shows black), blue, green, red at 24.
Rgb PixelOf(const std::uint8_t* row, std::uint16_t bits, const std::vector<Rgb>& palette, std::int32_t x) {
    if (bits == 24) return Rgb{row[3 * x + 2], row[3 * x + 1], row[3 * x]};
    std::uint32_t i = IndexAt(row, bits, x);
    return i < palette.size() ? palette[i] : Rgb{};
}

// One uncompressed row in file order into picture row y.
void ReadRow(const std::uint8_t* row, std::uint16_t bits, const std::vector<Rgb>& palette, Picture* p, std::int32_t y) {
    for (std::int32_t x = 0; x < p->width; ++x) Put(p, x, y, PixelOf(row, bits, palette, x));
}

// What a BMP file's headers say, read with every field bounds-checked.
struct BmpHeader {
    std::uint32_t pixelOffset = 0;
    std::uint32_t headerSize = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;       // positive; see topDown
    bool topDown = false;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t entryBytes = 4;  // palette entry: 3 bytes after the old 12-byte header
};

bool ReadBmpHeader(const std::vector<std::uint8_t>& b, BmpHeader* h, std::string* error) {
    std::uint32_t u32 = 0;
    std::uint16_t u16 = 0;
    if (!ReadU32(b, 10, &h->pixelOffset) || !ReadU32(b, 14, &h->headerSize)) {
        *error = "it is " + std::to_string(b.size()) + " bytes long, too short for a BMP header";
        return false;
    }
    if (h->headerSize != 12 && h->headerSize < kInfoHeaderBytes) {
        *error = "its information header is " + std::to_string(h->headerSize) + " bytes, which no BMP version has";
        return false;
    }
    if (!InBounds(b.size(), kFileHeaderBytes, h->headerSize)) {
        *error = "it ends inside its " + std::to_string(h->headerSize) + "-byte information header";
        return false;
    }
    if (h->headerSize == 12) {
        h->width = GetU16(b, 18);
        h->height = GetU16(b, 20);
        h->bitCount = GetU16(b, 24);
        h->entryBytes = 3;
    } else {
        h->width = static_cast<std::int32_t>(GetU32(b, 18));
        ReadU32(b, 22, &u32);
        h->height = static_cast<std::int32_t>(u32);
        ReadU16(b, 28, &u16);
        h->bitCount = u16;
        h->compression = GetU32(b, 30);
    }
    h->topDown = h->height < 0;
    if (h->topDown) h->height = -h->height;
    return true;
}

// The palette: whole entries between the headers and the pixel data, inside
// the file, no more than the depth indexes. The launcher reads its palette
// this way too, whatever the header's count of colours says.
std::vector<Rgb> ReadPalette(const std::vector<std::uint8_t>& b, const BmpHeader& h) {
    std::vector<Rgb> palette;
    if (h.bitCount > 8) return palette;
    std::uint64_t start = kFileHeaderBytes + static_cast<std::uint64_t>(h.headerSize);
    std::uint64_t end = std::min<std::uint64_t>(h.pixelOffset, b.size());
    std::uint64_t entries = end > start ? (end - start) / h.entryBytes : 0;
    entries = std::min<std::uint64_t>(entries, std::uint64_t{1} << h.bitCount);
    for (std::uint64_t i = 0; i < entries; ++i) {
        std::size_t at = static_cast<std::size_t>(start + i * h.entryBytes);
        palette.push_back(Rgb{b[at + 2], b[at + 1], b[at]});
    }
    return palette;
}

// Run-length data (RLE8 or RLE4): runs of one index, stretches of literal
// indices, ends of lines, jumps; every step is checked against the data's end
// and the picture's edges. Pixels it jumps over keep the background.
bool DecodeRle(const std::vector<std::uint8_t>& b, const BmpHeader& h, const std::vector<Rgb>& palette, Picture* p,
               std::string* error) {
    const bool four = h.compression == kRle4;
    std::uint64_t at = h.pixelOffset;
    std::int64_t x = 0, y = 0;  // y counts rows in file order
    auto colour = [&](std::uint32_t i) { return i < palette.size() ? palette[i] : Rgb{}; };
    auto put = [&](std::uint32_t index) {
        if (x >= p->width || y >= p->height) {
            *error = "its run-length data draws outside the picture (at column " + std::to_string(x + 1) + ", row " +
                     std::to_string(y + 1) + " from the " + (h.topDown ? "top" : "bottom") + ")";
            return false;
        }
        Put(p, x, h.topDown ? y : p->height - 1 - y, colour(index));
        ++x;
        return true;
    };
    auto cut = [&]() {
        *error = std::string(kEndsEarly) + ": its run-length data ends at byte " + std::to_string(std::min<std::uint64_t>(at, b.size())) +
                 ", before its end-of-bitmap mark";
        return false;
    };
    for (;;) {
        if (!InBounds(b.size(), at, 2)) return cut();
        std::uint32_t count = b[at], value = b[at + 1];
        at += 2;
        if (count > 0) {
            // A run: `count` pixels of one index (RLE4: two indices taking turns).
            for (std::uint32_t i = 0; i < count; ++i)
                if (!put(four ? (i % 2 == 0 ? value >> 4 : value & 0x0F) : value)) return false;
        } else if (value == 0) {
            x = 0;
            if (++y > p->height) {
                *error = "its run-length data goes past its last row";
                return false;
            }
        } else if (value == 1) {
            return true;
        } else if (value == 2) {
            if (!InBounds(b.size(), at, 2)) return cut();
            x += b[at];
            y += b[at + 1];
            at += 2;
            if (x > p->width || y > p->height) {
                *error = "its run-length data jumps outside the picture";
                return false;
            }
        } else {
            // `value` literal indices, padded to a whole 16-bit word.
            std::uint64_t bytes = four ? (value + 1) / 2 : value;
            if (!InBounds(b.size(), at, bytes)) return cut();
            for (std::uint32_t i = 0; i < value; ++i) {
                std::uint32_t index = four ? (i % 2 == 0 ? b[at + i / 2] >> 4 : b[at + i / 2] & 0x0F) : b[at + i];
                if (!put(index)) return false;
            }
            at += (bytes + 1) / 2 * 2;
        }
    }
}

// The BMP kinds stb does not cover, or covers loosely: palettes read only as
// far as the file holds them, run-length data, rows that must all be there.
bool DecodeBmp(const std::vector<std::uint8_t>& b, const BmpHeader& h, Rgb background, Picture* p, std::string* error,
               std::uint64_t maxPixels) {
    bool rle = (h.compression == kRle8 && h.bitCount == 8) || (h.compression == kRle4 && h.bitCount == 4);
    if (!SizePicture(p, h.width, h.height, maxPixels, background, error)) return false;
    if (h.pixelOffset < kFileHeaderBytes + h.headerSize) {
        *error = "its pixel data offset " + std::to_string(h.pixelOffset) + " points into its headers";
        return false;
    }
    std::vector<Rgb> palette = ReadPalette(b, h);
    if (rle) return DecodeRle(b, h, palette, p, error);
    std::uint64_t stride = BmpRowBytes(h.bitCount, h.width);
    std::uint64_t need = stride * static_cast<std::uint64_t>(h.height);
    if (!InBounds(b.size(), h.pixelOffset, need)) {
        *error = std::string(kEndsEarly) + ": it holds " + std::to_string(b.size() > h.pixelOffset ? b.size() - h.pixelOffset : 0) +
                 " bytes of pixels, fewer than its " + std::to_string(h.height) + " rows of " + std::to_string(stride) +
                 " bytes need (" + std::to_string(need) + ")";
        return false;
    }
    for (std::int64_t r = 0; r < h.height; ++r) {
        const std::uint8_t* row = b.data() + h.pixelOffset + r * stride;
        ReadRow(row, h.bitCount, palette, p, static_cast<std::int32_t>(h.topDown ? r : h.height - 1 - r));
    }
    return true;
}

// Lays colour c with opacity a (0 to 255) over the background, rounded to nearest.
std::uint8_t Blend(std::uint32_t c, std::uint32_t a, std::uint32_t background) {
    return static_cast<std::uint8_t>((c * a + background * (255 - a) + 127) / 255);
}

// What a walk over a JPEG's markers finds.
struct JpegMarkers {
    std::string unsound;           // why stb must not be given it; empty when it may
    bool endMarker = false;        // the end-of-image marker is there
    bool cutInSegment = false;     // the file ends inside a marker segment
    bool scan = false;             // a start-of-scan segment is there
    std::vector<std::uint8_t> exif;  // the first APP1 segment's payload that starts with "Exif"
};

// The stb_image Debian ships trusts a JPEG's Huffman tables: it builds a
// table from 16 code counts without checking that they add up to at most
// 256, and writes past the table when they do not; and it decodes a scan
// with a table that no DHT segment defined, reading memory it never set.
// So the tables are checked here first, finding the markers as stb does:
// after any run of 0xFF bytes, skipping the lengths of marker segments and
// the bytes of entropy-coded data. Where the two walks could part, this one
// reads more segments, never fewer. The same walk finds the EXIF segment and
// tells whether the file was cut off.
JpegMarkers WalkJpeg(const std::vector<std::uint8_t>& b) {
    JpegMarkers found;
    auto at = [&](std::uint64_t i) -> std::uint32_t { return i < b.size() ? b[i] : 0; };  // stb reads 0 past the end
    std::size_t i = 0;
    while (i < b.size() && b[i] == 0xFF) ++i;
    if (i == 0 || at(i) != 0xD8) {  // stb does not take it for a JPEG
        found.endMarker = true;
        return found;
    }
    ++i;
    bool progressive = false;
    bool defined[2][4] = {};  // [DC, AC][table]
    while (i + 1 < b.size()) {
        std::uint32_t m = b[i + 1];
        if (b[i] != 0xFF || m == 0xFF) {  // entropy-coded data, junk, or a fill byte
            ++i;
            continue;
        }
        if (m == 0x00 || (m >= 0xD0 && m <= 0xD7)) {  // a stuffed 0xFF, or a restart
            i += 2;
            continue;
        }
        if (m == 0xD9) {
            found.endMarker = true;
            return found;
        }
        std::size_t length = at(i + 2) << 8 | at(i + 3);
        if (!InBounds(b.size(), i + 2, length)) found.cutInSegment = true;
        if (m == 0xC2) progressive = true;
        if (m == 0xE1 && found.exif.empty() && length >= 8 && !found.cutInSegment &&
            std::equal(b.begin() + static_cast<std::ptrdiff_t>(i) + 4, b.begin() + static_cast<std::ptrdiff_t>(i) + 8, "Exif"))
            found.exif.assign(b.begin() + static_cast<std::ptrdiff_t>(i) + 4, b.begin() + static_cast<std::ptrdiff_t>(i + 2 + length));
        if (m == 0xC4) {
            std::int64_t left = static_cast<std::int64_t>(length) - 2;
            for (std::uint64_t t = i + 4; left > 0;) {
                std::uint32_t codes = 0;
                for (std::uint64_t k = 1; k <= 16; ++k) codes += at(t + k);
                if (codes > 256) {
                    found.unsound = "a Huffman table has more than 256 codes";
                    return found;
                }
                std::uint32_t kind = at(t) >> 4, table = at(t) & 15;
                if (kind <= 1 && table <= 3) defined[kind][table] = true;
                left -= 17 + static_cast<std::int64_t>(codes);
                t += 17 + codes;
            }
        }
        if (m == 0xDA) {
            found.scan = true;
            // Which tables the scan decodes with: a progressive scan uses
            // only DC tables for its first DC pass, only AC tables for AC.
            std::uint32_t components = at(i + 4);
            std::uint32_t first = at(i + 5 + 2 * components), high = at(i + 7 + 2 * components) >> 4;
            bool dc = !progressive || (first == 0 && high == 0), ac = !progressive || first > 0;
            for (std::uint32_t c = 0; c < components && c < 4; ++c) {
                std::uint32_t q = at(i + 6 + 2 * c);
                if ((dc && (q >> 4) <= 3 && !defined[0][q >> 4]) || (ac && (q & 15) <= 3 && !defined[1][q & 15])) {
                    found.unsound = "a scan uses a Huffman table it never defines";
                    return found;
                }
            }
        }
        i += 2 + length;
    }
    return found;
}

std::uint32_t BigU32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) << 24 | static_cast<std::uint32_t>(b[at + 1]) << 16 |
           static_cast<std::uint32_t>(b[at + 2]) << 8 | b[at + 3];
}

// Where a PNG that stb could not decode was cut off: a chunk that runs past
// the end, or no IEND chunk; empty when its chunks are whole.
std::string PngEndsEarly(const std::vector<std::uint8_t>& b) {
    std::string last = "signature";
    for (std::uint64_t at = 8;;) {
        if (!InBounds(b.size(), at, 8))
            return std::string(kEndsEarly) + ", after its " + last + ", before the IEND chunk that ends a PNG";
        std::string type(b.begin() + static_cast<std::ptrdiff_t>(at) + 4, b.begin() + static_cast<std::ptrdiff_t>(at) + 8);
        for (char& c : type)
            if (c < 0x20 || c > 0x7E) c = '?';
        std::uint64_t length = BigU32(b, static_cast<std::size_t>(at));
        if (!InBounds(b.size(), at, 12 + length))
            return std::string(kEndsEarly) + ", inside its " + type + " chunk (" + std::to_string(b.size() - at) + " of its " +
                   std::to_string(12 + length) + " bytes are there)";
        if (type == "IEND") return std::string();
        last = type + " chunk";
        at += 12 + length;
    }
}

// Where a GIF was cut off before its first frame's data ends, walking its
// blocks up to there (stb shows only that frame, and fills what is missing
// of it without a word); empty when that frame is whole.
std::string GifEndsEarly(const std::vector<std::uint8_t>& b) {
    const std::string cut = std::string(kEndsEarly) + ", before the end of its first frame";
    if (b.size() < 13) return cut;
    std::uint64_t at = 13 + ((b[10] & 0x80) ? 3ull << ((b[10] & 7) + 1) : 0);
    auto subBlocks = [&]() {
        for (;;) {
            if (at >= b.size()) return false;
            std::uint32_t n = b[at];
            at += 1 + n;
            if (n == 0) return true;
        }
    };
    for (;;) {
        if (at >= b.size()) return cut;
        std::uint8_t block = b[at];
        if (block == 0x21) {
            at += 2;
            if (!subBlocks()) return cut;
        } else if (block == 0x2C) {
            if (!InBounds(b.size(), at, 11)) return cut;
            at += 10 + ((b[at + 9] & 0x80) ? 3ull << ((b[at + 9] & 7) + 1) : 0) + 1;  // descriptor, colours, code size
            return subBlocks() ? std::string() : cut;
        } else {
            return std::string();  // damaged or empty rather than cut off: stb's reason stands
        }
    }
}

// Formats kelpack does not read but can name, by their first bytes: the name
// for the message and the file name ending for the command that converts it.
struct OtherFormat {
    const char* name;
    const char* extension;
};

bool Named(const std::vector<std::uint8_t>& b, std::size_t at, const char* magic, std::size_t n) {
    return InBounds(b.size(), at, n) && std::equal(magic, magic + n, b.begin() + static_cast<std::ptrdiff_t>(at),
                                                   [](char m, std::uint8_t c) { return static_cast<std::uint8_t>(m) == c; });
}

bool RecogniseOther(const std::vector<std::uint8_t>& b, OtherFormat* f) {
    static const struct { std::size_t at; const char* magic; std::size_t n; OtherFormat format; } kMagic[] = {
        {8, "WEBP", 4, {"a WebP image", "webp"}},
        {0, "II*\0", 4, {"a TIFF image", "tif"}},
        {0, "MM\0*", 4, {"a TIFF image", "tif"}},
        {4, "ftypavif", 8, {"an AVIF image", "avif"}},
        {4, "ftypavis", 8, {"an AVIF image", "avif"}},
        {4, "ftypheic", 8, {"a HEIF image", "heic"}},
        {4, "ftypheix", 8, {"a HEIF image", "heic"}},
        {4, "ftypmif1", 8, {"a HEIF image", "heic"}},
        {4, "ftypmsf1", 8, {"a HEIF image", "heic"}},
        {0, "\xFF\x0A", 2, {"a JPEG XL image", "jxl"}},
        {0, "\0\0\0\x0CJXL \x0D\x0A\x87\x0A", 12, {"a JPEG XL image", "jxl"}},
        {0, "\0\0\0\x0CjP  \x0D\x0A\x87\x0A", 12, {"a JPEG 2000 image", "jp2"}},
        {0, "\xFF\x4F\xFF\x51", 4, {"a JPEG 2000 image", "j2k"}},
        {0, "\0\0\1\0", 4, {"an icon file", "ico"}},
        {0, "8BPS", 4, {"a Photoshop document", "psd"}},
        {0, "gimp xcf", 8, {"a GIMP image", "xcf"}},
        {0, "%PDF", 4, {"a PDF document", "pdf"}},
        {0, "qoif", 4, {"a QOI image", "qoi"}},
        {0, "v/1\x01", 4, {"an OpenEXR image", "exr"}},
        {0, "DDS ", 4, {"a DirectDraw surface", "dds"}},
    };
    for (const auto& m : kMagic)
        if (Named(b, m.at, m.magic, m.n) && (m.at != 8 || Named(b, 0, "RIFF", 4))) {
            *f = m.format;
            return true;
        }
    if (b.size() >= 3 && b[0] == 'P' && b[1] >= '1' && b[1] <= '7' && (b[2] == ' ' || b[2] == '\n' || b[2] == '\r' || b[2] == '\t')) {
        *f = {"a Netpbm image", "pnm"};
        return true;
    }
    // An SVG drawing is XML text: a byte order mark and blanks, then "<", and
    // its <svg element near the start.
    std::size_t start = Named(b, 0, "\xEF\xBB\xBF", 3) ? 3 : 0;
    while (start < b.size() && (b[start] == ' ' || b[start] == '\t' || b[start] == '\r' || b[start] == '\n')) ++start;
    if (start < b.size() && b[start] == '<') {
        std::string head(b.begin() + static_cast<std::ptrdiff_t>(start), b.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(b.size(), start + 4096)));
        if (head.find("<svg") != std::string::npos) {
            *f = {"an SVG drawing", "svg"};
            return true;
        }
    }
    return false;
}

// PNG, JPEG, GIF and the BMP kinds of 16 and 32 bits, through stb.
// Decodes with stb to four channels; null with stb's reason.
stbi_uc* LoadRgba(const std::vector<std::uint8_t>& b, int* w, int* h, std::string* why) {
    int channels = 0;
    stbi_uc* rgba = stbi_load_from_memory(b.data(), static_cast<int>(b.size()), w, h, &channels, 4);
    if (rgba == nullptr) *why = stbi_failure_reason();
    return rgba;
}

// A JPEG whose end-of-image marker is missing, decoded with one put after it.
// Only when every pixel came from its own bytes is it taken: decoded once with
// the marker right after the last byte and once with bytes of another value
// before it, a scan that was cut off reads what follows as data and the two
// differ, while a whole scan never reaches the added bytes.
stbi_uc* LoadJpegWithoutEnd(const std::vector<std::uint8_t>& b, int* w, int* h) {
    std::vector<std::uint8_t> closed = b, padded = b;
    closed.insert(closed.end(), {0xFF, 0xD9});
    padded.insert(padded.end(), 16, 0x55);
    padded.insert(padded.end(), {0xFF, 0xD9});
    std::string why;
    int w2 = 0, h2 = 0;
    stbi_uc* first = LoadRgba(closed, w, h, &why);
    stbi_uc* second = first ? LoadRgba(padded, &w2, &h2, &why) : nullptr;
    bool same = second != nullptr && *w == w2 && *h == h2 &&
                std::equal(first, first + 4 * static_cast<std::size_t>(w2) * static_cast<std::size_t>(h2), second);
    stbi_image_free(second);
    if (!same) {
        stbi_image_free(first);
        return nullptr;
    }
    return first;
}

// Takes stb's RGBA pixels into the picture sized for them: laid over the
// background, or with `alpha` set, the opacity kept apart and the colours
// as they are.
void TakeRgba(const stbi_uc* rgba, Rgb background, Picture* p, PictureSource* source, std::vector<std::uint8_t>* alpha) {
    const std::size_t pixels = p->rgb.size() / 3;
    if (alpha) alpha->resize(pixels);
    for (std::size_t i = 0; i < pixels; ++i) {
        const stbi_uc* q = rgba + 4 * i;
        if (q[3] != 255) source->transparent = true;
        const std::uint32_t a = alpha ? 255 : q[3];
        if (alpha) (*alpha)[i] = q[3];
        p->rgb[3 * i] = Blend(q[0], a, background.r);
        p->rgb[3 * i + 1] = Blend(q[1], a, background.g);
        p->rgb[3 * i + 2] = Blend(q[2], a, background.b);
    }
}

// PNG, JPEG, GIF and the BMP kinds of 16 and 32 bits, through stb.
bool DecodeWithStb(const std::vector<std::uint8_t>& b, const std::string& format, Rgb background, Picture* p,
                   PictureSource* source, std::string* error, std::uint64_t maxPixels, std::vector<std::uint8_t>* alpha) {
    OtherFormat other{};
    if (format.empty() && RecogniseOther(b, &other)) {
        *error = std::string("it is ") + other.name + ": kelpack reads PNG, JPEG, GIF and BMP; convert it first, e.g. with "
                 "ImageMagick: convert in." + other.extension + " out.png";
        return false;
    }
    const std::string kind = format.empty() ? "it is not an image kelpack reads (PNG, JPEG, GIF or BMP)"
                                            : "it cannot be decoded as " + format;
    if (b.size() > static_cast<std::size_t>(INT_MAX)) {
        *error = "it is larger than 2 GiB";
        return false;
    }
    const JpegMarkers jpeg = WalkJpeg(b);
    if (!jpeg.unsound.empty()) {
        *error = "it cannot be decoded as JPEG (" + jpeg.unsound + ")";
        return false;
    }
    // stb refuses a PNG of more than 65535 pixels a side without saying so;
    // its header says, and gets the message every format gets.
    if (format == "PNG" && b.size() >= 24 && Named(b, 12, "IHDR", 4) && !CheckSize(BigU32(b, 16), BigU32(b, 20), maxPixels, error))
        return false;
    // Where a file was cut off, that is what the user needs to hear, not
    // what stb stumbled on there.
    auto endsEarly = [&]() -> std::string {
        if (format == "PNG") return PngEndsEarly(b);
        if (format == "JPEG" && !jpeg.scan) return std::string(kEndsEarly) + ", before its image data";
        if (format == "JPEG" && (jpeg.cutInSegment || !jpeg.endMarker))
            return std::string(kEndsEarly) + ", inside its image data (there is no end-of-image marker)";
        return std::string();
    };
    if (format == "GIF" && !GifEndsEarly(b).empty()) {
        *error = GifEndsEarly(b);
        return false;
    }
    int w = 0, h = 0, channels = 0;
    if (!stbi_info_from_memory(b.data(), static_cast<int>(b.size()), &w, &h, &channels)) {
        std::string cut = endsEarly();
        *error = cut.empty() ? kind + " (" + stbi_failure_reason() + ")" : cut;
        return false;
    }
    // A top-down BMP's header height is negative, and stb's reports it as it is.
    const std::int64_t height = h < 0 ? -static_cast<std::int64_t>(h) : h;
    if (!CheckSize(w, height, maxPixels, error)) return false;
    // The picture is made once stb's own buffers are gone: at the largest
    // size allowed, the two together would double the peak.
    const int expectWidth = w;
    std::string why;
    stbi_uc* rgba = nullptr;
    if (format == "JPEG" && jpeg.scan && !jpeg.cutInSegment && !jpeg.endMarker) {
        rgba = LoadJpegWithoutEnd(b, &w, &h);
        source->endMarkerMissing = rgba != nullptr;
    } else {
        rgba = LoadRgba(b, &w, &h, &why);
    }
    if (rgba == nullptr || w != expectWidth || h != height) {
        std::string cut = rgba ? std::string() : endsEarly();
        *error = !cut.empty() ? cut : kind + " (" + (rgba ? "its frame and header sizes differ" : why) + ")";
        stbi_image_free(rgba);
        return false;
    }
    if (!SizePicture(p, w, h, maxPixels, background, error)) {
        stbi_image_free(rgba);
        return false;
    }
    source->format = format;
    TakeRgba(rgba, background, p, source, alpha);
    stbi_image_free(rgba);
    if (format == "JPEG" && !jpeg.exif.empty()) {
        source->orientation = ExifOrientation(jpeg.exif);
        Orient(p, source->orientation);
    }
    return true;
}

std::string Format(const std::vector<std::uint8_t>& b) {
    auto starts = [&](const char* magic, std::size_t n) {
        return b.size() >= n && std::equal(magic, magic + n, b.begin(), [](char m, std::uint8_t c) {
                   return static_cast<std::uint8_t>(m) == c;
               });
    };
    if (starts("\x89PNG", 4)) return "PNG";
    // stb takes any run of 0xFF bytes before the start-of-image mark.
    std::size_t fill = 0;
    while (fill < b.size() && b[fill] == 0xFF) ++fill;
    if (fill > 0 && fill < b.size() && b[fill] == 0xD8) return "JPEG";
    if (starts("GIF8", 4)) return "GIF";
    if (starts("BM", 2)) return "BMP";
    return "";
}

}  // namespace

bool ParseColour(const std::string& given, Rgb* colour) {
    // "#336699", as web pages and paint programs write colours, is the same.
    const std::string text = !given.empty() && given[0] == '#' ? given.substr(1) : given;
    if (text.size() != 6) return false;
    std::uint32_t v = 0;
    for (char c : text) {
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) return false;
        v = v * 16 + static_cast<std::uint32_t>(d);
    }
    *colour = Rgb{static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    return true;
}

std::string ColourText(Rgb c) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string t;
    for (std::uint8_t v : {c.r, c.g, c.b}) {
        t += kHex[v >> 4];
        t += kHex[v & 0x0F];
    }
    return t;
}

bool ReadLauncherBitmap(const std::vector<std::uint8_t>& b, LauncherBitmap* bitmap, std::string* error) {
    *bitmap = LauncherBitmap();
    BmpInfo info;
    if (!LauncherDecodes(b, &info, error)) return false;
    splash::SplashBmpLayout& layout = bitmap->layout;
    splash::CheckSplashBmp(b.data(), static_cast<std::uint32_t>(b.size()), &layout);
    // The launcher's own copies: the palette, entries the file lacks black,
    // and the whole rows present, which lie inside the file.
    std::vector<std::uint8_t> entries(splash::kSplashPaletteEntryBytes * layout.paletteEntries);
    splash::CopySplashPalette(b.data(), layout, entries.data());
    for (std::size_t at = 0; at < entries.size(); at += splash::kSplashPaletteEntryBytes)
        bitmap->palette.push_back(Rgb{entries[at + 2], entries[at + 1], entries[at]});
    bitmap->rows.resize(static_cast<std::size_t>(splash::SplashRowOffset(layout.rowsCopied, layout.stride)));
    splash::CopySplashRows(b.data(), layout, bitmap->rows.data());
    return true;
}

Rgb LauncherBitmap::Pixel(std::int32_t x, std::int32_t y) const {
    // The section is zeroed where a short file supplies no row (its top rows).
    static const std::uint8_t kZeroPixel[3] = {0, 0, 0};
    auto fileRow = static_cast<std::uint32_t>(layout.height - 1 - y);
    if (fileRow >= layout.rowsCopied) return PixelOf(kZeroPixel, layout.bitCount, palette, 0);
    return PixelOf(rows.data() + splash::SplashRowOffset(fileRow, layout.stride), layout.bitCount, palette, x);
}

bool LauncherPixels(const std::vector<std::uint8_t>& b, Picture* p, std::string* error) {
    LauncherBitmap bitmap;
    if (!ReadLauncherBitmap(b, &bitmap, error)) return false;
    if (!SizePicture(p, bitmap.layout.width, bitmap.layout.height, kMaxPicturePixels, Rgb{}, error)) return false;
    for (std::int32_t y = 0; y < p->height; ++y)
        for (std::int32_t x = 0; x < p->width; ++x) Put(p, x, y, bitmap.Pixel(x, y));
    return true;
}

namespace {

bool DecodeBmpFile(const std::vector<std::uint8_t>& b, Rgb background, Picture* p, PictureSource* source, std::string* error,
                   std::uint64_t maxPixels, std::vector<std::uint8_t>* alpha) {
    BmpInfo info;
    std::string why;
    if (CheckBitmap(b, &info, &why)) {
        // Already the launcher's kind: what it shows is what gets packed. The
        // pixel bound holds here too (SizePicture refuses and says why).
        if (static_cast<std::uint64_t>(info.width) * static_cast<std::uint64_t>(info.height) > maxPixels)
            return SizePicture(p, info.width, info.height, maxPixels, background, error);
        source->launcherBmp = true;
        source->bitCount = info.bitCount;
        return LauncherPixels(b, p, error);
    }
    BmpHeader h;
    if (!ReadBmpHeader(b, &h, error)) return false;
    bool rle = (h.compression == kRle8 && h.bitCount == 8) || (h.compression == kRle4 && h.bitCount == 4);
    bool plain = h.compression == 0 && (h.bitCount == 1 || h.bitCount == 4 || h.bitCount == 8 || h.bitCount == 24);
    if (rle || plain) return DecodeBmp(b, h, background, p, error, maxPixels);
    if (h.bitCount == 16 || h.bitCount == 32) {
        // stb reads zeros past the end of a short file; refuse one here.
        std::uint64_t need = BmpRowBytes(h.bitCount, h.width) * static_cast<std::uint64_t>(h.height);
        if (h.width >= 1 && h.width <= kMaxSide && !InBounds(b.size(), h.pixelOffset, need)) {
            *error = std::string(kEndsEarly) + ": it holds fewer bytes of pixels than its " + std::to_string(h.height) + " rows need (" +
                     std::to_string(need) + ")";
            return false;
        }
        return DecodeWithStb(b, "BMP", background, p, source, error, maxPixels, alpha);
    }
    *error = "it is a BMP with " + std::to_string(h.bitCount) + " bits per pixel and compression " +
             std::to_string(h.compression) + ", a kind kelpack does not read";
    return false;
}

}  // namespace

bool DecodePicture(const std::vector<std::uint8_t>& b, Rgb background, Picture* p, PictureSource* source, std::string* error,
                 std::uint64_t maxPixels, std::vector<std::uint8_t>* alpha) {
    *p = Picture();
    *source = PictureSource();
    if (alpha) alpha->clear();
    source->format = Format(b);
    if (source->format != "BMP") return DecodeWithStb(b, source->format, background, p, source, error, maxPixels, alpha);
    // The BMP kinds read here have no transparency of their own.
    if (!DecodeBmpFile(b, background, p, source, error, maxPixels, alpha)) return false;
    if (alpha && alpha->empty()) alpha->assign(p->rgb.size() / 3, 255);
    return true;
}

std::uint16_t ExifOrientation(const std::vector<std::uint8_t>& s) {
    // "Exif", two NULs, then a TIFF header: byte order, 42, the first IFD's
    // offset; offsets count from the TIFF header.
    constexpr std::uint64_t kTiff = 6;
    constexpr std::uint32_t kOrientationTag = 0x0112, kShort = 3;
    if (!Named(s, 0, "Exif\0\0", 6) || !InBounds(s.size(), kTiff, 8)) return 1;
    const bool big = Named(s, kTiff, "MM", 2);
    if (!big && !Named(s, kTiff, "II", 2)) return 1;
    auto u16 = [&](std::uint64_t at) -> std::uint32_t {
        return big ? (static_cast<std::uint32_t>(s[at]) << 8 | s[at + 1]) : (static_cast<std::uint32_t>(s[at + 1]) << 8 | s[at]);
    };
    auto u32 = [&](std::uint64_t at) -> std::uint64_t { return big ? (u16(at) << 16 | u16(at + 2)) : (u16(at + 2) << 16 | u16(at)); };
    if (u16(kTiff + 2) != 42) return 1;
    const std::uint64_t ifd = kTiff + u32(kTiff + 4);
    if (!InBounds(s.size(), ifd, 2)) return 1;
    const std::uint32_t entries = u16(ifd);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::uint64_t e = ifd + 2 + 12ull * i;
        if (!InBounds(s.size(), e, 12)) return 1;
        if (u16(e) != kOrientationTag) continue;
        // One SHORT, held in the entry's value field itself.
        std::uint32_t value = u16(e + 8);
        return u16(e + 2) == kShort && u32(e + 4) >= 1 && value >= 1 && value <= 8 ? static_cast<std::uint16_t>(value) : 1;
    }
    return 1;
}

void Orient(Picture* p, std::uint16_t orientation) {
    if (orientation < 2 || orientation > 8) return;
    const std::int64_t w = p->width, h = p->height;
    const bool swap = orientation >= 5;
    Picture out;
    out.width = static_cast<std::int32_t>(swap ? h : w);
    out.height = static_cast<std::int32_t>(swap ? w : h);
    out.rgb.resize(p->rgb.size());
    for (std::int64_t y = 0; y < h; ++y)
        for (std::int64_t x = 0; x < w; ++x) {
            // Where stored pixel (x, y) stands once the picture is upright.
            std::int64_t tx = x, ty = y;
            switch (orientation) {
                case 2: tx = w - 1 - x; break;                     // mirrored left to right
                case 3: tx = w - 1 - x; ty = h - 1 - y; break;     // upside down
                case 4: ty = h - 1 - y; break;                     // mirrored top to bottom
                case 5: tx = y; ty = x; break;                     // mirrored along the main diagonal
                case 6: tx = h - 1 - y; ty = x; break;             // stored a quarter turn anticlockwise
                case 7: tx = h - 1 - y; ty = w - 1 - x; break;     // mirrored along the other diagonal
                case 8: tx = y; ty = w - 1 - x; break;             // stored a quarter turn clockwise
            }
            const std::size_t from = static_cast<std::size_t>(y * w + x) * 3, to = static_cast<std::size_t>(ty * out.width + tx) * 3;
            std::copy(p->rgb.begin() + static_cast<std::ptrdiff_t>(from), p->rgb.begin() + static_cast<std::ptrdiff_t>(from) + 3,
                      out.rgb.begin() + static_cast<std::ptrdiff_t>(to));
        }
    *p = std::move(out);
}

bool ScalePicture(const Picture& in, std::int32_t width, std::int32_t height, Picture* out) {
    std::string unused;
    if (!SizePicture(out, width, height, UINT64_MAX, Rgb{}, &unused)) return false;
    return stbir_resize_uint8_srgb_edgemode(in.rgb.data(), in.width, in.height, 0, out->rgb.data(), width, height, 0, 3,
                                            STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP) == 1;
}

}  // namespace kelpack
