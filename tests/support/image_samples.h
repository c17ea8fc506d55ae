// ***Used only by the tests***: small picture files made by ImageMagick,
// kept as bytes, and the EXIF segment a camera adds to a JPEG, for the
// tests of kelpack's decoder and of what pack says about the files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

inline std::vector<std::uint8_t> FromHex(const std::string& hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// 16x16 of (200, 40, 90): convert -size 16x16 'xc:rgb(200,40,90)' -strip
// -quality 100 -sampling-factor 1x1 solid.jpg (ImageMagick). (stb's own
// JPEG writer shifts negative values, which the sanitizers refuse.)
inline std::vector<std::uint8_t> SolidJpeg() {
    return FromHex(
        "ffd8ffe000104a46494600010100000100010000ffdb0043000101010101010101010101010101010101010101010101"
        "0101010101010101010101010101010101010101010101010101010101010101010101010101010101ffdb0043010101"
        "010101010101010101010101010101010101010101010101010101010101010101010101010101010101010101010101"
        "0101010101010101010101010101ffc00011080010001003011100021101031101ffc400150001010000000000000000"
        "0000000000000009ffc40014100100000000000000000000000000000000ffc400160101010100000000000000000000"
        "00000000050affc40014110100000000000000000000000000000000ffda000c03010002110311003f009de9ed300000"
        "0fffd9");
}

// 24x16 in four 8x8 corners, red and blue above, black and yellow below,
// grey between: convert -size 24x16 'xc:rgb(128,128,128)' -type TrueColor
// -fill red -draw 'rectangle 0,0 7,7' -fill blue -draw 'rectangle 16,0 23,7'
// -fill black -draw 'rectangle 0,8 7,15' -fill yellow -draw 'rectangle 16,8
// 23,15' -quality 100 -sampling-factor 1x1 -strip corners.jpg
inline std::vector<std::uint8_t> CornersJpeg() {
    return FromHex(
        "ffd8ffe000104a46494600010100000100010000ffdb0043000101010101010101010101010101010101010101010101"
        "0101010101010101010101010101010101010101010101010101010101010101010101010101010101ffdb0043010101"
        "010101010101010101010101010101010101010101010101010101010101010101010101010101010101010101010101"
        "0101010101010101010101010101ffc00011080010001803011100021101031101ffc400170000030100000000000000"
        "00000000000008090a0bffc40014100100000000000000000000000000000000ffc40018010003010100000000000000"
        "000000000000080a090bffc40014110100000000000000000000000000000000ffda000c03010002110311003f004bec"
        "a75fc1d0356100e8e75fc15702e807350d000058839ff9a87fffd9");
}

// An APP1 segment recording `orientation`, in either byte order, after
// another tag, as cameras write them; put right after a JPEG's start marker.
inline std::vector<std::uint8_t> WithOrientation(std::vector<std::uint8_t> jpeg, std::uint16_t orientation, bool bigEndian) {
    std::vector<std::uint8_t> tiff;
    auto u16 = [&](std::uint32_t v) {
        if (bigEndian) tiff.insert(tiff.end(), {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
        else tiff.insert(tiff.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
    };
    auto u32 = [&](std::uint32_t v) { bigEndian ? (u16(v >> 16), u16(v & 0xFFFF)) : (u16(v & 0xFFFF), u16(v >> 16)); };
    tiff.insert(tiff.end(), {bigEndian ? std::uint8_t{'M'} : std::uint8_t{'I'}, bigEndian ? std::uint8_t{'M'} : std::uint8_t{'I'}});
    u16(42);
    u32(8);
    u16(2);
    u16(0x010F), u16(2), u32(4), tiff.insert(tiff.end(), {'K', 'e', 'l', 0});  // Make
    u16(0x0112), u16(3), u32(1), u16(orientation), u16(0);                    // Orientation
    u32(0);
    std::vector<std::uint8_t> app1 = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), tiff.begin(), tiff.end());
    app1[2] = static_cast<std::uint8_t>((app1.size() - 2) >> 8);
    app1[3] = static_cast<std::uint8_t>(app1.size() - 2);
    jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
    return jpeg;
}

}  // namespace testsupport
