#include "bmp.h"

#include "byteio.h"

namespace kelpack {

std::uint32_t bmp_stride(std::uint32_t bit_count, std::uint32_t width) {
    std::uint64_t bytes = (static_cast<std::uint64_t>(bit_count) * width + 7) / 8;
    return static_cast<std::uint32_t>(((bytes + 3) / 4) * 4);
}

bool check_bitmap(const std::vector<std::uint8_t>& b, BmpInfo* info, std::string* error) {
    *info = BmpInfo();
    if (b.size() < 2 || b[0] != 'B' || b[1] != 'M') {
        *error = "it is not a BMP file (it does not start with \"BM\")";
        return false;
    }
    if (b.size() < 54) {
        *error = "it is " + std::to_string(b.size()) + " bytes long, too short for the two BMP headers (54 bytes)";
        return false;
    }
    std::uint32_t header = get_u32(b, 14);
    if (header != 40) {
        *error = "its information header is " + std::to_string(header) +
                 " bytes; only the 40-byte BITMAPINFOHEADER (BMP version 3) is accepted";
        return false;
    }
    std::int32_t width = static_cast<std::int32_t>(get_u32(b, 18));
    std::int32_t height = static_cast<std::int32_t>(get_u32(b, 22));
    if (height < 0) {
        *error = "it is stored top-down (negative height); only bottom-up bitmaps are accepted";
        return false;
    }
    if (width < 1 || width > 65535 || height < 1 || height > 65535) {
        *error = "its size " + std::to_string(width) + "x" + std::to_string(height) +
                 " is out of range; width and height must be 1 to 65535";
        return false;
    }
    std::uint16_t bits = get_u16(b, 28);
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24) {
        *error = "it has " + std::to_string(bits) + " bits per pixel; only 1, 4, 8 or 24 are accepted";
        return false;
    }
    std::uint32_t compression = get_u32(b, 30);
    if (compression != 0) {
        *error = "it is compressed (compression " + std::to_string(compression) + "); only uncompressed bitmaps are accepted";
        return false;
    }
    std::uint32_t offset = get_u32(b, 10);
    std::uint32_t stride = bmp_stride(bits, static_cast<std::uint32_t>(width));
    std::uint64_t need = static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(height);
    if (offset < 54) {
        *error = "its pixel data offset " + std::to_string(offset) + " points into its headers";
        return false;
    }
    // The launcher would show a short file with rows missing; better to catch
    // a broken file here than on the device.
    if (offset > b.size() || b.size() - offset < need) {
        std::uint64_t have = offset > b.size() ? 0 : b.size() - offset;
        *error = "it holds " + std::to_string(have) + " bytes of pixels, fewer than its " + std::to_string(height) +
                 " rows of " + std::to_string(stride) + " bytes need (" + std::to_string(need) + ")";
        return false;
    }
    info->width = width;
    info->height = height;
    info->bit_count = bits;
    info->pixel_offset = offset;
    info->stride = stride;
    return true;
}

std::string bitmap_conversion_hint(const std::string& path) {
    return "convert it to an uncompressed bottom-up 24-bit BMP, for example with ImageMagick: convert " + path +
           " -type truecolor BMP3:out.bmp";
}

}  // namespace kelpack
