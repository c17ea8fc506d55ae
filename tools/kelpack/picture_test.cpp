#include "picture.h"

#include <gtest/gtest.h>

#include <stb_image_write.h>

#include "bitmap_check.h"
#include "byteio.h"

#include "image_samples.h"

namespace kelpack {
namespace {

using testsupport::CornersJpeg;
using testsupport::SolidJpeg;
using testsupport::WithOrientation;

const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kGrey{9, 99, 199};

Picture Make(std::int32_t w, std::int32_t h, const std::vector<Rgb>& pixels) {
    Picture p;
    p.width = w;
    p.height = h;
    for (Rgb c : pixels) p.rgb.insert(p.rgb.end(), {c.r, c.g, c.b});
    return p;
}

// A picture of w x h whose pixel i takes colour i % colours, each colour distinct.
Picture Colours(std::int32_t w, std::int32_t h, std::uint32_t colours) {
    std::vector<Rgb> px;
    for (std::int32_t i = 0; i < w * h; ++i) {
        std::uint32_t c = static_cast<std::uint32_t>(i) % colours * 0x010307;
        px.push_back(Rgb{static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)});
    }
    return Make(w, h, px);
}

std::vector<std::uint8_t> Png(int w, int h, int channels, const std::vector<std::uint8_t>& px) {
    std::vector<std::uint8_t> out;
    stbi_write_png_to_func([](void* ctx, void* data, int size) {
        auto* o = static_cast<std::vector<std::uint8_t>*>(ctx);
        o->insert(o->end(), static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
    }, &out, w, h, channels, px.data(), 0);
    return out;
}


// A 3x2 GIF: red, transparent, blue / blue, red, transparent.
const std::vector<std::uint8_t> kGif = {
    0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x03, 0x00, 0x02, 0x00, 0xf1, 0x00, 0x00, 0xff, 0x00, 0x00, 0x00,
    0x00, 0xff, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0xf9, 0x04, 0x01, 0x00, 0x00, 0x02, 0x00, 0x2c,
    0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x02, 0x00, 0x00, 0x02, 0x03, 0x84, 0x12, 0x56, 0x00, 0x3b};

// A BMP file of any kind: headers, then `extra` (palette or masks), then `pixels` as given.
std::vector<std::uint8_t> Bmp(std::uint32_t headerSize, std::int32_t w, std::int32_t h, std::uint16_t bits,
                              std::uint32_t compression, const std::vector<std::uint8_t>& extra,
                              const std::vector<std::uint8_t>& pixels) {
    std::vector<std::uint8_t> b = {'B', 'M'};
    std::uint32_t offset = 14 + headerSize + static_cast<std::uint32_t>(extra.size());
    AppendU32(&b, offset + static_cast<std::uint32_t>(pixels.size()));
    AppendU32(&b, 0);
    AppendU32(&b, offset);
    AppendU32(&b, headerSize);
    if (headerSize == 12) {
        AppendU16(&b, static_cast<std::uint32_t>(w));
        AppendU16(&b, static_cast<std::uint32_t>(h));
        AppendU16(&b, 1);
        AppendU16(&b, bits);
    } else {
        AppendU32(&b, static_cast<std::uint32_t>(w));
        AppendU32(&b, static_cast<std::uint32_t>(h));
        AppendU16(&b, 1);
        AppendU16(&b, bits);
        AppendU32(&b, compression);
        b.resize(14 + headerSize, 0);
    }
    b.insert(b.end(), extra.begin(), extra.end());
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

// Palette entries as a BMP stores them (blue, green, red, then a zero when `quad`).
std::vector<std::uint8_t> PaletteBytes(const std::vector<Rgb>& colours, bool quad = true) {
    std::vector<std::uint8_t> b;
    for (Rgb c : colours) {
        b.insert(b.end(), {c.b, c.g, c.r});
        if (quad) b.push_back(0);
    }
    return b;
}

Picture Decoded(const std::vector<std::uint8_t>& bytes, Rgb background = kGrey, PictureSource* source = nullptr) {
    Picture p;
    PictureSource s;
    std::string error;
    EXPECT_TRUE(DecodePicture(bytes, background, &p, &s, &error)) << error;
    if (source) *source = s;
    return p;
}

std::string Refusal(const std::vector<std::uint8_t>& bytes, std::uint64_t maxPixels = kMaxPicturePixels) {
    Picture p;
    PictureSource s;
    std::string error;
    EXPECT_FALSE(DecodePicture(bytes, kGrey, &p, &s, &error, maxPixels));
    return error;
}

void ExpectSame(const Picture& got, const Picture& want, const std::string& what) {
    EXPECT_EQ(got.width, want.width) << what;
    EXPECT_EQ(got.height, want.height) << what;
    EXPECT_EQ(got.rgb, want.rgb) << what;
}

TEST(EncodeBmp, TheLauncherDecodesTheSamePixelsAtTheSmallestExactDepth) {
    struct Case { std::int32_t w, h; std::uint32_t colours; std::uint16_t bits; };
    // A palette costs four bytes a colour: a tiny picture of many colours
    // is a smaller file at 24 bits (8x8 of 64: 246 bytes, against 374 at 8).
    for (Case c : {Case{1, 1, 1, 24}, Case{9, 3, 2, 1}, Case{7, 5, 3, 4}, Case{33, 2, 16, 4}, Case{5, 7, 17, 24},
                   Case{40, 10, 17, 8}, Case{31, 9, 256, 24}, Case{64, 16, 256, 8}, Case{8, 8, 64, 24},
                   Case{29, 9, 257, 24}, Case{3, 200, 600, 24}}) {
        Picture p = Colours(c.w, c.h, c.colours);
        EncodedBmp e = EncodeBmp(p);
        std::string what = std::to_string(c.w) + "x" + std::to_string(c.h) + " with " + std::to_string(c.colours);
        EXPECT_EQ(e.bitCount, c.bits) << what;
        EXPECT_EQ(e.colours, c.bits == 24 ? 0u : c.colours) << what;
        EXPECT_EQ(e.distinct, std::min<std::uint32_t>(c.colours, 257)) << what;
        // Headers, the palette of its colours only, rows padded to four bytes.
        std::uint64_t stride = (static_cast<std::uint64_t>(c.bits) * c.w + 31) / 32 * 4;
        EXPECT_EQ(e.bytes.size(), 54 + 4 * e.colours + stride * c.h) << what;
        Picture back;
        std::string error;
        ASSERT_TRUE(LauncherPixels(e.bytes, &back, &error)) << what << ": " << error;
        ExpectSame(back, p, what);
    }
    EXPECT_EQ(Bmp24Bytes(29, 9), 54u + 88u * 9u);
}

TEST(DecodePicture, TransparencyIsLaidOverTheBackgroundRoundedToNearest) {
    struct Case { std::uint8_t c, a, background, want; };
    for (Case c : {Case{1, 128, 0, 1}, Case{200, 64, 0, 50}, Case{0, 127, 255, 128}, Case{255, 0, 7, 7},
                   Case{90, 255, 3, 90}, Case{254, 1, 0, 1}, Case{100, 128, 200, 150}}) {
        std::vector<std::uint8_t> png = Png(1, 1, 4, {c.c, c.c, c.c, c.a});
        PictureSource s;
        Picture p = Decoded(png, Rgb{c.background, c.background, c.background}, &s);
        ASSERT_EQ(p.rgb.size(), 3u);
        EXPECT_EQ(p.rgb[0], c.want) << int(c.c) << " at " << int(c.a) << " over " << int(c.background);
        EXPECT_EQ(s.format, "PNG");
        EXPECT_EQ(s.transparent, c.a != 255);
    }
}

TEST(DecodePicture, ReadsEachFormatAndKindOfBmp) {
    const Rgb k0{10, 20, 30}, k1{200, 100, 50}, k2{1, 2, 3};
    const std::vector<std::uint8_t> gif = kGif;
    // Top-down, 32 bits (blue, green, red, unused), rows top first.
    std::vector<std::uint8_t> px32 = {0, 0, 255, 0, 0, 255, 0, 0, /**/ 255, 0, 0, 0, 9, 99, 199, 0};
    // Bottom-up, 16 bits 5-6-5 in bit fields, 3 pixels and 2 bytes of padding a row.
    std::vector<std::uint8_t> masks;
    for (std::uint32_t m : {0xF800u, 0x07E0u, 0x001Fu}) AppendU32(&masks, m);
    std::vector<std::uint8_t> px16 = {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0, 0, /**/ 0xFF, 0xFF, 0, 0, 0x00, 0xF8, 0, 0};
    // Run-length, 8 bits, 4x3 from the bottom: a run of 4; a literal stretch of
    // 3 (one index past the palette); a jump of 2 and a run of 2.
    std::vector<std::uint8_t> rle8 = {4, 1, 0, 0, /**/ 0, 3, 0, 2, 7, 0, 0, 0, /**/ 0, 2, 2, 0, 2, 2, 0, 1};
    // Run-length, 4 bits, 5x2 from the bottom: a run of 5 taking turns; a
    // literal stretch of 3; the last two pixels left out.
    std::vector<std::uint8_t> rle4 = {5, 0x01, 0, 0, /**/ 0, 3, 0x10, 0x10, 0, 1};
    // Top-down 4 bits: index 3 lies past a palette of 2 and shows black.
    std::vector<std::uint8_t> px4 = {0x01, 0x30, 0, 0};
    const Rgb black{};
    struct Case { const char* what; std::vector<std::uint8_t> bytes; Picture want; const char* format; };
    std::vector<Case> cases = {
        {"GIF", gif, Make(3, 2, {kRed, kGrey, kBlue, kBlue, kRed, kGrey}), "GIF"},
        {"PNG", Png(2, 1, 3, {1, 2, 3, 4, 5, 6}), Make(2, 1, {{1, 2, 3}, {4, 5, 6}}), "PNG"},
        {"top-down 32-bit", Bmp(40, 2, -2, 32, 0, {}, px32), Make(2, 2, {kRed, kGreen, kBlue, {199, 99, 9}}), "BMP"},
        {"16-bit bit fields", Bmp(40, 3, 2, 16, 3, masks, px16), Make(3, 2, {{255, 255, 255}, {}, kRed, kRed, kGreen, kBlue}), "BMP"},
        {"RLE8", Bmp(40, 4, 3, 8, 1, PaletteBytes({k0, k1, k2}), rle8),
         Make(4, 3, {kGrey, kGrey, k2, k2, k0, k2, black, kGrey, k1, k1, k1, k1}), "BMP"},
        {"RLE4", Bmp(40, 5, 2, 4, 2, PaletteBytes({k0, k1}), rle4),
         Make(5, 2, {k1, k0, k1, kGrey, kGrey, k0, k1, k0, k1, k0}), "BMP"},
        {"12-byte header", Bmp(12, 2, 1, 8, 0, PaletteBytes({k0, k1}, false), {1, 0, 0, 0}), Make(2, 1, {k1, k0}), "BMP"},
        {"top-down 4-bit", Bmp(40, 3, -1, 4, 0, PaletteBytes({k0, k1}), px4), Make(3, 1, {k0, k1, black}), "BMP"},
        {"V5 header 8-bit", Bmp(124, 1, 2, 8, 0, PaletteBytes({k0, k1}), {0, 0, 0, 0, 1, 0, 0, 0}), Make(1, 2, {k1, k0}), "BMP"},
    };
    for (const Case& c : cases) {
        PictureSource s;
        ExpectSame(Decoded(c.bytes, kGrey, &s), c.want, c.what);
        EXPECT_EQ(s.format, c.format) << c.what;
        EXPECT_FALSE(s.launcherBmp) << c.what;
    }
}

TEST(DecodePicture, JpegComesBackCloseToItsSource) {
    const std::vector<std::uint8_t> jpeg = SolidJpeg();
    PictureSource s;
    Picture p = Decoded(jpeg, kGrey, &s);
    EXPECT_EQ(s.format, "JPEG");
    ASSERT_EQ(p.rgb.size(), 16u * 16u * 3u);
    const std::uint8_t source[3] = {200, 40, 90};
    for (std::size_t i = 0; i < p.rgb.size(); ++i) EXPECT_NEAR(p.rgb[i], source[i % 3], 3) << i;
}

TEST(DecodePicture, ALauncherBmpIsWhatTheLauncherShows) {
    // 8 bits with a palette of 2 entries: indices past it show black, as on the device.
    std::vector<std::uint8_t> b = Bmp(40, 3, 1, 8, 0, PaletteBytes({kRed, kBlue}), {0, 1, 200, 0});
    PictureSource s;
    ExpectSame(Decoded(b, kGrey, &s), Make(3, 1, {kRed, kBlue, Rgb{}}), "launcher BMP");
    EXPECT_TRUE(s.launcherBmp);
    EXPECT_EQ(s.bitCount, 8);
}

TEST(DecodePicture, RefusesWhatItCannotReadAndSaysWhy) {
    std::vector<std::uint8_t> png = Png(100, 100, 3, std::vector<std::uint8_t>(30000, 7));
    std::vector<std::uint8_t> cutPng(png.begin(), png.begin() + 60);
    std::vector<std::uint8_t> noIend(png.begin(), png.end() - 12);
    std::vector<std::uint8_t> widePng = Png(1, 1, 3, {1, 2, 3});
    PutU32(&widePng, 16, 0x70110100);  // IHDR width 70000, big-endian: 00 01 11 70
    const std::vector<std::uint8_t> jpeg = SolidJpeg();
    auto Text = [](const std::string& t) { return std::vector<std::uint8_t>(t.begin(), t.end()); };
    using namespace std::string_literals;  // magic numbers hold NULs
    std::vector<std::uint8_t> huge = Bmp(40, 65535, 65535, 24, 0, {}, {0, 0, 0, 0});
    const std::vector<std::uint8_t> pal = PaletteBytes({kRed, kBlue});
    struct Case { const char* what; std::vector<std::uint8_t> bytes; std::uint64_t maxPixels; const char* says; };
    std::vector<Case> cases = {
        {"text", {'h', 'e', 'l', 'l', 'o'}, kMaxPicturePixels, "it is not an image kelpack reads (PNG, JPEG, GIF or BMP)"},
        {"cut PNG", cutPng, kMaxPicturePixels, "the file ends early, inside its IDAT chunk"},
        {"PNG without IEND", noIend, kMaxPicturePixels, "the file ends early, after its IDAT chunk, before the IEND chunk"},
        {"PNG 70000 wide", widePng, kMaxPicturePixels, "its size 70000x1 is out of range; width and height must be 1 to 65535"},
        {"cut GIF", std::vector<std::uint8_t>(kGif.begin(), kGif.end() - 8), kMaxPicturePixels, "the file ends early, before the end of its first frame"},
        {"cut JPEG header", std::vector<std::uint8_t>(jpeg.begin(), jpeg.begin() + 100), kMaxPicturePixels,
         "the file ends early, before its image data"},
        {"cut JPEG scan", std::vector<std::uint8_t>(jpeg.begin(), jpeg.end() - 6), kMaxPicturePixels,
         "the file ends early, inside its image data"},
        {"WebP", Text("RIFF\x1a\0\0\0WEBPVP8L"s), kMaxPicturePixels,
         "it is a WebP image: kelpack reads PNG, JPEG, GIF and BMP; convert it first, e.g. with ImageMagick: convert in.webp out.png"},
        {"TIFF, Intel order", Text("II*\0\x08\0\0\0"s), kMaxPicturePixels, "it is a TIFF image: kelpack reads"},
        {"TIFF, Motorola order", Text("MM\0*\0\0\0\x08"s), kMaxPicturePixels, "convert in.tif out.png"},
        {"SVG", Text("\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\"/>"), kMaxPicturePixels,
         "it is an SVG drawing: kelpack reads"},
        {"HEIC", Text("\0\0\0\x18" "ftypheic"s), kMaxPicturePixels, "it is a HEIF image"},
        {"RIFF that is no WebP", Text("RIFF\x1a\0\0\0WAVEfmt "s), kMaxPicturePixels, "it is not an image kelpack reads"},
        {"XML that is no SVG", Text("<html><body/></html>"), kMaxPicturePixels, "it is not an image kelpack reads"},
        {"many pixels", png, 9999, "it is 100x100 (10000 pixels), more than the 9999 kelpack decodes"},
        {"huge BMP", huge, kMaxPicturePixels, "more than the 67108864 kelpack decodes"},
        {"RLE without end", Bmp(40, 2, 1, 8, 1, pal, {2, 1, 0, 0}), kMaxPicturePixels, "ends at byte 66, before its end-of-bitmap mark"},
        {"RLE run too long", Bmp(40, 2, 1, 8, 1, pal, {3, 1, 0, 1}), kMaxPicturePixels, "draws outside the picture (at column 3, row 1"},
        {"RLE jump outside", Bmp(40, 2, 1, 8, 1, pal, {0, 2, 1, 5, 0, 1}), kMaxPicturePixels, "jumps outside the picture"},
        {"RLE literal cut", Bmp(40, 4, 1, 8, 1, pal, {0, 4, 1, 1}), kMaxPicturePixels, "before its end-of-bitmap mark"},
        {"short 16-bit", Bmp(40, 4, 4, 16, 0, {}, std::vector<std::uint8_t>(20)), kMaxPicturePixels, "fewer bytes of pixels than its 4 rows need (32)"},
        {"short top-down", Bmp(40, 4, -4, 24, 0, {}, std::vector<std::uint8_t>(20)), kMaxPicturePixels, "holds 20 bytes of pixels, fewer than its 4 rows of 12 bytes need (48)"},
        {"2 bits", Bmp(40, 4, 4, 2, 0, pal, std::vector<std::uint8_t>(16)), kMaxPicturePixels, "2 bits per pixel and compression 0, a kind kelpack does not read"},
        {"odd header", Bmp(20, 4, 4, 8, 0, {}, {}), kMaxPicturePixels, "information header is 20 bytes"},
        {"JPEG table of 304 codes", {0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x13, 0x00, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19},
         kMaxPicturePixels, "a Huffman table has more than 256 codes"},
        {"JPEG scan without tables", {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00}, kMaxPicturePixels,
         "a scan uses a Huffman table it never defines"},
        {"zero width", Bmp(40, 0, -4, 8, 0, pal, {}), kMaxPicturePixels, "size 0x4 is out of range"},
    };
    for (const Case& c : cases) EXPECT_NE(Refusal(c.bytes, c.maxPixels).find(c.says), std::string::npos) << c.what << ": " << Refusal(c.bytes, c.maxPixels);
}

TEST(DecodePicture, AJpegMissingOnlyItsEndMarkerIsReadWhole) {
    const std::vector<std::uint8_t> whole = SolidJpeg();
    const std::vector<std::uint8_t> unended(whole.begin(), whole.end() - 2);  // no FF D9
    PictureSource s, t;
    Picture p = Decoded(unended, kGrey, &s);
    ExpectSame(p, Decoded(whole, kGrey, &t), "without its end marker");
    EXPECT_TRUE(s.endMarkerMissing);
    EXPECT_FALSE(t.endMarkerMissing);
}

TEST(DecodePicture, TurnsAJpegAsItsExifOrientationSays) {
    // The corners of the stored 24x16 picture (red, blue / black, yellow)
    // where they stand once it is upright; 5 to 8 stand 16x24.
    enum Corner { kR, kB, kK, kY };
    const Rgb kCorner[] = {{255, 0, 0}, {0, 0, 255}, {0, 0, 0}, {255, 255, 0}};
    struct Case { std::uint16_t orientation; std::int32_t w, h; Corner topLeft, topRight, bottomLeft, bottomRight; };
    for (Case c : {Case{1, 24, 16, kR, kB, kK, kY}, Case{2, 24, 16, kB, kR, kY, kK}, Case{3, 24, 16, kY, kK, kB, kR},
                   Case{4, 24, 16, kK, kY, kR, kB}, Case{5, 16, 24, kR, kK, kB, kY}, Case{6, 16, 24, kK, kR, kY, kB},
                   Case{7, 16, 24, kY, kB, kK, kR}, Case{8, 16, 24, kB, kY, kR, kK}}) {
        for (bool big : {false, true}) {
            std::string what = "orientation " + std::to_string(c.orientation) + (big ? ", big-endian" : "");
            PictureSource s;
            Picture p = Decoded(WithOrientation(CornersJpeg(), c.orientation, big), kGrey, &s);
            EXPECT_EQ(s.orientation, c.orientation) << what;
            ASSERT_EQ(p.width, c.w) << what;
            ASSERT_EQ(p.height, c.h) << what;
            auto expectNear = [&](std::int32_t x, std::int32_t y, Corner want) {
                std::size_t i = (static_cast<std::size_t>(y) * p.width + x) * 3;
                Rgb w = kCorner[want];
                EXPECT_NEAR(p.rgb[i], w.r, 8) << what << " at " << x << "," << y;
                EXPECT_NEAR(p.rgb[i + 1], w.g, 8) << what << " at " << x << "," << y;
                EXPECT_NEAR(p.rgb[i + 2], w.b, 8) << what << " at " << x << "," << y;
            };
            expectNear(0, 0, c.topLeft);
            expectNear(c.w - 1, 0, c.topRight);
            expectNear(0, c.h - 1, c.bottomLeft);
            expectNear(c.w - 1, c.h - 1, c.bottomRight);
        }
    }
}

TEST(ExifOrientation, ReadsOnlyAWellFormedTagInsideTheSegment) {
    // The payload of the APP1 segment WithOrientation writes.
    auto payload = [](std::uint16_t orientation, bool big) {
        std::vector<std::uint8_t> j = WithOrientation({0xFF, 0xD8}, orientation, big);
        return std::vector<std::uint8_t>(j.begin() + 6, j.end());
    };
    std::vector<std::uint8_t> good = payload(6, false), big = payload(8, true);
    // Offsets in the little-endian payload: TIFF header at 6, IFD at 14, the
    // orientation entry at 28 (type at 30, count at 32, value at 36).
    auto with = [&](std::size_t at, std::uint8_t v) { std::vector<std::uint8_t> b = good; b[at] = v; return b; };
    struct Case { const char* what; std::vector<std::uint8_t> bytes; std::uint16_t want; };
    std::vector<Case> cases = {
        {"little-endian", good, 6},
        {"big-endian", big, 8},
        {"cut inside the entry", std::vector<std::uint8_t>(good.begin(), good.begin() + 38), 1},
        {"IFD offset past the end", with(10, 0xF0), 1},
        {"IFD offset wrapping", with(13, 0xFF), 1},
        {"more entries than the segment holds", with(14, 9), 6},
        {"type LONG", with(30, 4), 1},
        {"count 0", with(32, 0), 1},
        {"value 9", with(36, 9), 1},
        {"value 0", with(36, 0), 1},
        {"not 42", with(8, 43), 1},
        {"no byte order", with(6, 'X'), 1},
        {"no Exif", with(0, 'e'), 1},
        {"empty", {}, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(ExifOrientation(c.bytes), c.want) << c.what;
}

TEST(FitSize, ShrinksToTheBoxKeepingProportionsNeverGrows) {
    struct Case { std::int32_t w, h; std::uint32_t bw, bh; std::int32_t fw, fh; };
    for (Case c : {Case{480, 640, 480, 640, 480, 640}, Case{100, 50, 480, 640, 100, 50}, Case{960, 1280, 480, 640, 480, 640},
                   Case{1000, 500, 240, 320, 240, 120}, Case{500, 1000, 240, 320, 160, 320}, Case{3, 2, 2, 2, 2, 1},
                   Case{5000, 1, 100, 100, 100, 1}, Case{1, 5000, 100, 100, 1, 100}, Case{301, 200, 150, 150, 150, 100},
                   Case{640, 481, 480, 640, 480, 361}, Case{50, 50, 0, 0, 50, 50}}) {
        std::int32_t w = 0, h = 0;
        FitSize(c.w, c.h, c.bw, c.bh, &w, &h);
        EXPECT_EQ(w, c.fw) << c.w << "x" << c.h << " in " << c.bw << "x" << c.bh;
        EXPECT_EQ(h, c.fh) << c.w << "x" << c.h << " in " << c.bw << "x" << c.bh;
    }
}

TEST(ScalePicture, KeepsAFlatColourAndTakesTheNewSize) {
    Picture in = Make(4, 2, std::vector<Rgb>(8, kGrey));
    Picture out;
    ASSERT_TRUE(ScalePicture(in, 2, 1, &out));
    ExpectSame(out, Make(2, 1, {kGrey, kGrey}), "flat");
    // Half black, half white: the middle of the edge comes out between them.
    Picture edge = Make(4, 1, {Rgb{}, Rgb{}, {255, 255, 255}, {255, 255, 255}});
    ASSERT_TRUE(ScalePicture(edge, 1, 1, &out));
    EXPECT_GT(out.rgb[0], 100);
    EXPECT_LT(out.rgb[0], 230);
}

TEST(ParseColour, TakesSixHexDigits) {
    Rgb c;
    ASSERT_TRUE(ParseColour("1a2B3c", &c));
    EXPECT_EQ(ColourText(c), "1A2B3C");
    ASSERT_TRUE(ParseColour("#336699", &c));
    EXPECT_EQ(ColourText(c), "336699");
    for (const char* bad : {"", "12345", "1234567", "12345g", "#12345", "0x1234", "##336699", "#"}) EXPECT_FALSE(ParseColour(bad, &c)) << bad;
}

}  // namespace
}  // namespace kelpack
