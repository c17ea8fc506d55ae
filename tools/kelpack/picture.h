// Splash pictures on their way into a launcher copy: any common picture file
// decoded to the pixels a screen shows, scaled down to fit a splash entry,
// and written back as the small BMP subset the launcher takes, at the
// smallest depth that holds every pixel exactly. Bytes in, bytes out; the
// stb headers do the PNG, JPEG and GIF work and the BMP kinds they cover.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "splash/bitmap.h"

namespace kelpack {

// The most pixels one image may have (64 Mi, e.g. 8192x8192). Checked against
// the header before any pixel is decoded, so that no file exhausts memory.
constexpr std::uint64_t kMaxPicturePixels = std::uint64_t{64} << 20;

// A colour as the screen shows it.
struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
};

// The splash window's own background (its class brush is white): what
// transparent pixels are laid over unless the packager says otherwise.
constexpr Rgb kDefaultBackground{255, 255, 255};

// Pixels: rows top first, three bytes (red, green, blue) per pixel.
struct Picture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> rgb;
};

// What a decoded file was.
struct PictureSource {
    std::string format;            // "PNG", "JPEG", "GIF" or "BMP"
    bool launcherBmp = false;      // a BMP the launcher already shows whole, as it is
    std::uint16_t bitCount = 0;    // its depth, for a launcher BMP
    bool transparent = false;      // some pixels were laid over the background
    std::uint16_t orientation = 1; // a JPEG's EXIF orientation (1 to 8), already applied to the pixels
    bool endMarkerMissing = false; // a JPEG whose every pixel is there but whose end-of-image marker is not
};

// A BMP file in the launcher's subset: bottom-up, uncompressed, 40-byte header.
struct EncodedBmp {
    std::vector<std::uint8_t> bytes;
    std::uint16_t bitCount = 0;    // 1, 4, 8 or 24
    std::uint32_t colours = 0;     // palette entries written; 0 for 24 bits
    std::uint32_t distinct = 0;    // the picture's colours; kMaxPaletteColours + 1 stands for more
    std::uint16_t paletteBits = 0; // the smallest depth with a palette that holds them; 0 when none does
    std::uint64_t paletteFileBytes = 0;  // the file at that depth, palette included
};

// The most colours a bitmap's palette holds.
constexpr std::uint32_t kMaxPaletteColours = 256;

// Parses "RRGGBB" or "#RRGGBB" (six hex digits, either case); false otherwise.
bool ParseColour(const std::string& text, Rgb* colour);

// "RRGGBB", upper case.
std::string ColourText(Rgb colour);

// Decodes a PNG, JPEG, GIF (its first frame) or BMP file (any header, bottom-up
// or top-down, 1 to 32 bits, bit fields, run-length). Transparent pixels, and
// those run-length data skips, are laid over `background`. A launcher BMP
// decodes to what the launcher shows. A JPEG is turned as its EXIF
// orientation says. False with the reason, for people: a file of another
// format is named, and a cut-off one is said to end early. With `alpha`, each
// pixel's opacity (0 to 255) is given there and its colour is left as it is,
// not laid over `background` (pixels a run-length BMP skips still take it).
bool DecodePicture(const std::vector<std::uint8_t>& bytes, Rgb background, Picture* picture, PictureSource* source,
                 std::string* error, std::uint64_t maxPixels = kMaxPicturePixels, std::vector<std::uint8_t>* alpha = nullptr);

// The orientation (1 to 8; 1 when it gives none or cannot be read) an APP1
// segment's payload ("Exif", two NULs, then a TIFF header) records for its
// picture. Every offset in it is checked against the payload's end.
std::uint16_t ExifOrientation(const std::vector<std::uint8_t>& app1);

// Turns and mirrors a picture stored in the given EXIF orientation so that it
// stands as it is meant to be seen (5 to 8 swap width and height).
void Orient(Picture* picture, std::uint16_t orientation);

// How many colours a picture has, counting stops past `limit`.
std::uint32_t CountColours(const Picture& picture, std::uint32_t limit);

// A bitmap as the launcher holds it once decoded: its palette and the whole
// rows its file supplies, taken with the launcher's own copies.
struct LauncherBitmap {
    splash::SplashBmpLayout layout{};
    std::vector<Rgb> palette;          // paletteEntries colours; those the file lacks are black
    std::vector<std::uint8_t> rows;    // the rowsCopied rows present, bottom row first
    // The colour the screen shows at (x, y), counted from the top left; the
    // rows a short file lacks show as zero bytes would.
    Rgb Pixel(std::int32_t x, std::int32_t y) const;
};

// Reads a bitmap the launcher decodes; false with the reason when it does not.
// What it keeps is bounded by the file's size, whatever size the header claims.
bool ReadLauncherBitmap(const std::vector<std::uint8_t>& bytes, LauncherBitmap* bitmap, std::string* error);

// Every pixel the launcher shows for a bitmap it decodes, for bitmaps of at
// most kMaxPicturePixels; false with the reason.
bool LauncherPixels(const std::vector<std::uint8_t>& bytes, Picture* picture, std::string* error);

// The size a picture of width x height takes to fit within box: unchanged when
// it fits, else scaled down keeping its proportions, rounded, at least 1x1.
void FitSize(std::int32_t width, std::int32_t height, std::uint32_t boxWidth, std::uint32_t boxHeight,
             std::int32_t* fitWidth, std::int32_t* fitHeight);

// Scales with stb's sRGB-aware filter (Mitchell when shrinking); false when it fails.
bool ScalePicture(const Picture& in, std::int32_t width, std::int32_t height, Picture* out);

// Writes the picture as the smallest file that holds it exactly: 1, 4 or 8
// bits with a palette of its colours (sorted by value) when it has at most
// 2, 16 or 256, unless 24 bits, which need no palette, take fewer bytes (a
// tiny picture of many colours); else 24.
EncodedBmp EncodeBmp(const Picture& picture);

// The bytes of one BMP row of `width` pixels at `bits` a pixel: whole 32-bit words.
std::uint64_t BmpRowBytes(std::uint16_t bits, std::int64_t width);

// Bytes of the 24-bit file of that size, to tell what a smaller depth saved.
std::uint64_t Bmp24Bytes(std::int32_t width, std::int32_t height);

}  // namespace kelpack
