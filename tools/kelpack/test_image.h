// ***Used only by the tests***: builds small PE images from a description,
// so that the reader and writer can be tested without a cross compiler, and
// the bitmap files that kelpack packs. The
// layout is the one linkers produce: DOS header, PE headers with 16 data
// directories, the section table, then each section's data on a file
// alignment boundary, then any overlay.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "byteio.h"
#include "pe.h"
#include "splash/bitmap.h"

#include <gtest/gtest.h>

namespace kelpack::testing {

// A bottom-up BMP with a full palette and all its rows (a negative width or
// height is written as given, the pixel bytes sized by its magnitude).
inline std::vector<std::uint8_t> make_bmp(std::int32_t w, std::int32_t h, std::uint16_t bits = 24) {
    std::uint32_t offset = 54 + (bits == 24 ? 0 : 4u << bits);
    std::uint32_t stride = splash::SplashStride(bits, w < 0 ? -w : w);
    std::vector<std::uint8_t> b(offset + static_cast<std::size_t>(stride) * static_cast<std::size_t>(h < 0 ? -h : h),
                                0x33);
    b[0] = 'B';
    b[1] = 'M';
    put_u32(&b, 2, static_cast<std::uint32_t>(b.size()));
    put_u32(&b, 6, 0);
    put_u32(&b, 10, offset);
    put_u32(&b, 14, 40);
    put_u32(&b, 18, static_cast<std::uint32_t>(w));
    put_u32(&b, 22, static_cast<std::uint32_t>(h));
    put_u16(&b, 26, 1);
    put_u16(&b, 28, bits);
    put_u32(&b, 30, 0);
    return b;
}

struct TestSection {
    std::string name;
    std::vector<std::uint8_t> data;  // raw data (padded to the file alignment)
    std::uint32_t virtual_size = 0;  // 0: data.size()
    std::uint32_t characteristics = 0x40000040;
};

struct TestImageLayout {
    std::uint16_t machine = 0x8664;
    bool pe32plus = true;
    std::uint32_t file_alignment = 0x200;
    std::uint32_t section_alignment = 0x1000;
    std::uint32_t size_of_headers = 0x400;
    std::vector<TestSection> sections;
    int resource_section = -1;          // its VA goes into data directory 2
    std::vector<std::uint8_t> overlay;  // bytes after the last section
    std::uint32_t symbol_table = 0;     // PointerToSymbolTable, when not 0
    std::vector<std::uint8_t> certificate;  // appended and named in directory 4
};

// Offsets inside images made by make_image().
constexpr std::uint32_t kPeOffset = 0x80;
constexpr std::uint32_t kOptOffset = kPeOffset + 24;
inline std::uint32_t dir_offset(bool pe32plus) { return kOptOffset + (pe32plus ? 112 : 96); }
inline std::uint32_t table_offset(bool pe32plus) { return kOptOffset + (pe32plus ? 240 : 224); }

// RVA of section i in an image made from `layout`.
inline std::uint32_t section_rva(const TestImageLayout& layout, std::size_t i) {
    std::uint64_t va = align_up(layout.size_of_headers, layout.section_alignment);
    for (std::size_t k = 0; k < i; ++k) {
        const TestSection& s = layout.sections[k];
        std::uint32_t span = s.virtual_size ? s.virtual_size : static_cast<std::uint32_t>(s.data.size());
        va = align_up(va + (span ? span : 1), layout.section_alignment);
    }
    return static_cast<std::uint32_t>(va);
}

inline std::vector<std::uint8_t> make_image(const TestImageLayout& layout) {
    std::vector<std::uint8_t> b(layout.size_of_headers, 0);
    b[0] = 'M';
    b[1] = 'Z';
    put_u32(&b, 0x3c, kPeOffset);
    b[kPeOffset] = 'P';
    b[kPeOffset + 1] = 'E';
    put_u16(&b, kPeOffset + 4, layout.machine);
    put_u16(&b, kPeOffset + 6, static_cast<std::uint32_t>(layout.sections.size()));
    put_u32(&b, kPeOffset + 12, layout.symbol_table);
    put_u16(&b, kPeOffset + 20, layout.pe32plus ? 240 : 224);
    put_u16(&b, kPeOffset + 22, 0x0022);
    const std::uint32_t o = kOptOffset;
    put_u16(&b, o, layout.pe32plus ? 0x20b : 0x10b);
    put_u32(&b, o + 16, section_rva(layout, 0));  // entry point
    put_u32(&b, o + 32, layout.section_alignment);
    put_u32(&b, o + 36, layout.file_alignment);
    put_u16(&b, o + 40, 4);
    put_u16(&b, o + 48, 4);
    put_u32(&b, o + 60, layout.size_of_headers);
    put_u16(&b, o + 68, 2);  // GUI
    put_u32(&b, o + (layout.pe32plus ? 108 : 92), 16);
    std::uint32_t init = 0;
    std::uint32_t image_end = section_rva(layout, layout.sections.size());
    for (std::size_t i = 0; i < layout.sections.size(); ++i) {
        const TestSection& s = layout.sections[i];
        std::uint32_t raw = static_cast<std::uint32_t>(align_up(s.data.size(), layout.file_alignment));
        std::uint32_t at = static_cast<std::uint32_t>(b.size());
        std::uint32_t h = table_offset(layout.pe32plus) + 40 * static_cast<std::uint32_t>(i);
        for (std::size_t k = 0; k < s.name.size() && k < 8; ++k) b[h + k] = static_cast<std::uint8_t>(s.name[k]);
        put_u32(&b, h + 8, s.virtual_size ? s.virtual_size : static_cast<std::uint32_t>(s.data.size()));
        put_u32(&b, h + 12, section_rva(layout, i));
        put_u32(&b, h + 16, raw);
        put_u32(&b, h + 20, raw ? at : 0);
        put_u32(&b, h + 36, s.characteristics);
        if (s.characteristics & 0x40) init += raw;
        b.insert(b.end(), s.data.begin(), s.data.end());
        b.resize(at + raw, 0);
        if (static_cast<int>(i) == layout.resource_section) {
            put_u32(&b, dir_offset(layout.pe32plus) + 16, section_rva(layout, i));
            put_u32(&b, dir_offset(layout.pe32plus) + 20, static_cast<std::uint32_t>(s.data.size()));
        }
    }
    put_u32(&b, o + 8, init);
    put_u32(&b, o + 56, image_end);
    b.insert(b.end(), layout.overlay.begin(), layout.overlay.end());
    if (!layout.certificate.empty()) {
        b.resize(align_up(b.size(), 8), 0);
        put_u32(&b, dir_offset(layout.pe32plus) + 32, static_cast<std::uint32_t>(b.size()));
        put_u32(&b, dir_offset(layout.pe32plus) + 36, static_cast<std::uint32_t>(layout.certificate.size()));
        b.insert(b.end(), layout.certificate.begin(), layout.certificate.end());
    }
    return b;
}

// A plain image: code, data, and relocations, no resources.
inline TestImageLayout plain_layout(std::uint16_t machine = 0x8664, bool pe32plus = true) {
    TestImageLayout layout;
    layout.machine = machine;
    layout.pe32plus = pe32plus;
    layout.sections.push_back({".text", std::vector<std::uint8_t>(0x300, 0xC3), 0, 0x60000020});
    layout.sections.push_back({".data", std::vector<std::uint8_t>(0x80, 0x11), 0x100, 0xC0000040});
    layout.sections.push_back({".reloc", std::vector<std::uint8_t>(0x40, 0x22), 0, 0x42000040});
    return layout;
}

// Parses an image that must parse; a failure is reported with the reader's reason.
inline PeImage parsed(const std::vector<std::uint8_t>& bytes) {
    PeImage image;
    std::string error;
    EXPECT_TRUE(parse_pe(bytes, &image, &error)) << error;
    return image;
}

}  // namespace kelpack::testing
