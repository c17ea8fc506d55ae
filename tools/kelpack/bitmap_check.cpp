#include "bitmap_check.h"

#include "byteio.h"

namespace kelpack {

namespace {

// The reason for a rejection the launcher's checks reported. The header
// fields are read again only to quote them back to the user.
std::string Describe(splash::SplashBmpFault fault, const std::vector<std::uint8_t>& b, const splash::SplashBmpLayout& layout) {
    using splash::SplashBmpFault;
    switch (fault) {
        case SplashBmpFault::kTooShort:
            return "it is " + std::to_string(b.size()) + " bytes long, too short for the two BMP headers (54 bytes)";
        case SplashBmpFault::kNotBitmap:
            return "it is not a BMP file (it does not start with \"BM\")";
        case SplashBmpFault::kHeaderSize:
            return "its information header is " + std::to_string(GetU32(b, 14)) +
                   " bytes; only the 40-byte BITMAPINFOHEADER (BMP version 3) is accepted";
        case SplashBmpFault::kSize:
            if (layout.height < 0 && layout.width >= 1) return "it is stored top-down (negative height); only bottom-up bitmaps are accepted";
            return "its size " + std::to_string(layout.width) + "x" + std::to_string(layout.height) +
                   " is out of range; width and height must be 1 to 65535";
        case SplashBmpFault::kBitCount:
            return "it has " + std::to_string(GetU16(b, 28)) + " bits per pixel; only 1, 4, 8 or 24 are accepted";
        case SplashBmpFault::kCompressed:
            return "it is compressed (compression " + std::to_string(GetU32(b, 30)) +
                   "); only uncompressed bitmaps are accepted";
        case SplashBmpFault::kNone:
            break;
    }
    return "it is not accepted";
}

}  // namespace

bool LauncherDecodes(const std::vector<std::uint8_t>& b, BmpInfo* info, std::string* error) {
    *info = BmpInfo();
    splash::SplashBmpLayout layout{};
    if (!splash::CheckSplashBmp(b.data(), static_cast<std::uint32_t>(b.size()), &layout)) {
        *error = Describe(layout.fault, b, layout);
        return false;
    }
    info->width = layout.width;
    info->height = layout.height;
    info->bitCount = layout.bitCount;
    info->pixelOffset = layout.pixelOffset;
    info->stride = layout.stride;
    info->rowsPresent = layout.rowsCopied;
    info->paletteCopied = layout.paletteCopied;
    return true;
}

bool CheckBitmap(const std::vector<std::uint8_t>& b, BmpInfo* info, std::string* error) {
    if (!LauncherDecodes(b, info, error)) return false;
    if (info->pixelOffset < splash::kSplashHeaderBytes) {
        *error = "its pixel data offset " + std::to_string(info->pixelOffset) + " points into its headers";
        return false;
    }
    // The launcher would show a short file with rows missing; better to catch
    // a broken file here than on the device.
    if (info->rowsPresent < static_cast<std::uint32_t>(info->height)) {
        std::uint64_t need = static_cast<std::uint64_t>(info->stride) * static_cast<std::uint64_t>(info->height);
        std::uint64_t have = info->pixelOffset > b.size() ? 0 : b.size() - info->pixelOffset;
        *error = "it holds " + std::to_string(have) + " bytes of pixels, fewer than its " + std::to_string(info->height) +
                 " rows of " + std::to_string(info->stride) + " bytes need (" + std::to_string(need) + ")";
        return false;
    }
    return true;
}

}  // namespace kelpack
