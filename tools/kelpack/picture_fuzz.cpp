// Fuzzes the image decoder, and the EXIF reader it uses, on any bytes.
// Whatever they are, the decoder
// either refuses them with a reason or gives a picture of a sane size; the
// picture is then encoded, and the bitmap written must be one the launcher's
// own checks accept, read back pixel for pixel, as the smallest file that
// holds its colours (counted here apart from the encoder). A picture of more
// than one pixel is also fitted into half its size (64 pixels at most). The
// same bytes are drawn as a preview draws a packed bitmap, which the launcher
// may decode with rows missing. Any mismatch aborts, so that libFuzzer keeps
// the input.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "kelpack/ico.h"
#include "kelpack/picture.h"
#include "kelpack/preview.h"

namespace {

using namespace kelpack;

void Check(bool condition) {
    if (!condition) std::abort();
}

// Pictures above this are refused in this harness, as kelpack refuses those
// above kMaxPicturePixels: the refusal is fuzzed too, and each run stays fast.
constexpr std::uint64_t kMaxFuzzPixels = std::uint64_t{1} << 20;
// The most pixels a picture made into icons here has: the icons are scaled
// from it at three sizes, which takes time with its size.
constexpr std::uint64_t kMaxIconFuzzPixels = 64 * 64;
// The largest side a picture is fitted to here.
constexpr std::uint32_t kMaxFuzzSide = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);

    // The bytes as an EXIF segment's payload, as the decoder reads a JPEG's.
    const std::uint16_t orientation = ExifOrientation(bytes);
    Check(orientation >= 1 && orientation <= 8);

    // The bytes as an icon file: each image lies inside it, PNG ones marked.
    std::vector<IconImage> icons;
    std::string iconError;
    if (ParseIco(bytes, &icons, &iconError)) {
        for (const IconImage& icon : icons)
            Check(!icon.data.empty() && icon.data.size() <= size && (icon.png == (icon.data[0] == 0x89)));
    } else {
        Check(!iconError.empty() && icons.empty());
    }

    // A preview reads only the pixels on its screen, whatever size the header claims.
    LauncherBitmap launcherBitmap;
    std::string why;
    const bool launcherDecodes = ReadLauncherBitmap(bytes, &launcherBitmap, &why);
    Picture screen;
    splash::SplashPlacement window{};
    Check(DrawSplashScreen(48, 32, &bytes, &screen, &window) == launcherDecodes);
    Check(screen.rgb.size() == 48 * 32 * 3 && window.width == launcherBitmap.layout.width * launcherDecodes);

    // The background varies with the input, so that blending is fuzzed too.
    Rgb background{size > 0 ? data[size - 1] : std::uint8_t{0}, 0x80, size > 1 ? data[size / 2] : std::uint8_t{0xFF}};
    Picture picture;
    PictureSource source;
    std::string error;
    if (!DecodePicture(bytes, background, &picture, &source, &error, kMaxFuzzPixels)) {
        Check(!error.empty());
        return 0;
    }
    Check(picture.width >= 1 && picture.width <= 65535 && picture.height >= 1 && picture.height <= 65535);
    const std::size_t pixels = static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height);
    Check(pixels <= kMaxFuzzPixels && picture.rgb.size() == pixels * 3);
    Check(!source.format.empty());
    Check(source.orientation >= 1 && source.orientation <= 8 && (source.orientation == 1 || source.format == "JPEG"));

    std::set<std::uint32_t> colours;
    for (std::size_t i = 0; i < pixels && colours.size() <= 256; ++i)
        colours.insert((std::uint32_t{picture.rgb[3 * i]} << 16) | (std::uint32_t{picture.rgb[3 * i + 1]} << 8) |
                       picture.rgb[3 * i + 2]);
    // The smallest file that holds the picture exactly: the least palette
    // depth, unless 24 bits without a palette take fewer bytes.
    const std::uint16_t least = colours.size() <= 2 ? 1 : colours.size() <= 16 ? 4 : colours.size() <= 256 ? 8 : 24;
    auto fileBytes = [&](std::uint64_t bits, std::uint64_t paletteEntries) {
        return 54 + 4 * paletteEntries + (bits * picture.width + 31) / 32 * 4 * picture.height;
    };
    const std::uint16_t smallest = least != 24 && fileBytes(least, colours.size()) <= fileBytes(24, 0) ? least : 24;

    EncodedBmp encoded = EncodeBmp(picture);
    Check(encoded.bitCount == smallest);
    Check(encoded.colours == (smallest == 24 ? 0 : colours.size()));
    Check(encoded.bytes.size() == fileBytes(smallest, encoded.colours));
    // A small picture also becomes icons, every side at every depth, each
    // image exactly as long as its header, palette and two masks.
    if (pixels <= kMaxIconFuzzPixels) {
        std::string note;
        std::vector<IconImage> made = MakeIconImages(picture.width, picture.height, picture.rgb,
                                                     std::vector<std::uint8_t>(pixels, data[0]), &note);
        Check(made.size() == 9 && !note.empty());
        for (const IconImage& icon : made) {
            const std::size_t side = icon.width, palette = icon.bitCount <= 8 ? 4u << icon.bitCount : 0;
            const std::size_t stride = (side * icon.bitCount + 31) / 32 * 4, mask = (side + 31) / 32 * 4;
            Check(icon.width == icon.height && icon.data.size() == 40 + palette + (stride + mask) * side);
        }
    }

    Picture back;
    Check(LauncherPixels(encoded.bytes, &back, &error));
    Check(back.width == picture.width && back.height == picture.height && back.rgb == picture.rgb);

    if (pixels > 1) {
        // stb's resize takes time square in the scaled size (its filter
        // weights are normalised pixel by pixel); a splash entry is small.
        std::uint32_t boxW = std::min<std::uint32_t>(static_cast<std::uint32_t>(picture.width + 1) / 2, kMaxFuzzSide);
        std::uint32_t boxH = std::min<std::uint32_t>(static_cast<std::uint32_t>(picture.height + 1) / 2, kMaxFuzzSide);
        std::int32_t w = 0, h = 0;
        FitSize(picture.width, picture.height, boxW, boxH, &w, &h);
        Check(w >= 1 && h >= 1 && static_cast<std::uint32_t>(w) <= boxW && static_cast<std::uint32_t>(h) <= boxH);
        Picture smaller;
        Check(ScalePicture(picture, w, h, &smaller));
        Check(smaller.width == w && smaller.height == h && smaller.rgb.size() == static_cast<std::size_t>(w) * h * 3);
    }
    return 0;
}
