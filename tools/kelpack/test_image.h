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
inline std::vector<std::uint8_t> MakeBmp(std::int32_t w, std::int32_t h, std::uint16_t bits = 24) {
    std::uint32_t offset = 54 + (bits == 24 ? 0 : 4u << bits);
    std::uint32_t stride = splash::SplashStride(bits, w < 0 ? -w : w);
    std::vector<std::uint8_t> b(offset + static_cast<std::size_t>(stride) * static_cast<std::size_t>(h < 0 ? -h : h),
                                0x33);
    b[0] = 'B';
    b[1] = 'M';
    PutU32(&b, 2, static_cast<std::uint32_t>(b.size()));
    PutU32(&b, 6, 0);
    PutU32(&b, 10, offset);
    PutU32(&b, 14, 40);
    PutU32(&b, 18, static_cast<std::uint32_t>(w));
    PutU32(&b, 22, static_cast<std::uint32_t>(h));
    PutU16(&b, 26, 1);
    PutU16(&b, 28, bits);
    PutU32(&b, 30, 0);
    return b;
}

struct TestSection {
    std::string name;
    std::vector<std::uint8_t> data;  // raw data (padded to the file alignment)
    std::uint32_t virtualSize = 0;   // 0: data.size()
    std::uint32_t characteristics = 0x40000040;
};

struct TestImageLayout {
    std::uint16_t machine = 0x8664;
    bool pe32plus = true;
    std::uint32_t fileAlignment = 0x200;
    std::uint32_t sectionAlignment = 0x1000;
    std::uint32_t sizeOfHeaders = 0x400;
    std::vector<TestSection> sections;
    int resourceSection = -1;           // its VA goes into data directory 2
    std::vector<std::uint8_t> overlay;  // bytes after the last section
    std::uint32_t symbolTable = 0;      // PointerToSymbolTable, when not 0
    std::vector<std::uint8_t> certificate;  // appended and named in directory 4
};

// Offsets inside images made by MakeImage().
constexpr std::uint32_t kPeOffset = 0x80;
constexpr std::uint32_t kOptOffset = kPeOffset + 24;
inline std::uint32_t DirOffset(bool pe32plus) { return kOptOffset + (pe32plus ? 112 : 96); }
inline std::uint32_t TableOffset(bool pe32plus) { return kOptOffset + (pe32plus ? 240 : 224); }

// RVA of section i in an image made from `layout`.
inline std::uint32_t SectionRva(const TestImageLayout& layout, std::size_t i) {
    std::uint64_t va = AlignUp(layout.sizeOfHeaders, layout.sectionAlignment);
    for (std::size_t k = 0; k < i; ++k) {
        const TestSection& s = layout.sections[k];
        std::uint32_t span = s.virtualSize ? s.virtualSize : static_cast<std::uint32_t>(s.data.size());
        va = AlignUp(va + (span ? span : 1), layout.sectionAlignment);
    }
    return static_cast<std::uint32_t>(va);
}

inline std::vector<std::uint8_t> MakeImage(const TestImageLayout& layout) {
    std::vector<std::uint8_t> b(layout.sizeOfHeaders, 0);
    b[0] = 'M';
    b[1] = 'Z';
    PutU32(&b, 0x3c, kPeOffset);
    b[kPeOffset] = 'P';
    b[kPeOffset + 1] = 'E';
    PutU16(&b, kPeOffset + 4, layout.machine);
    PutU16(&b, kPeOffset + 6, static_cast<std::uint32_t>(layout.sections.size()));
    PutU32(&b, kPeOffset + 12, layout.symbolTable);
    PutU16(&b, kPeOffset + 20, layout.pe32plus ? 240 : 224);
    PutU16(&b, kPeOffset + 22, 0x0022);
    const std::uint32_t o = kOptOffset;
    PutU16(&b, o, layout.pe32plus ? 0x20b : 0x10b);
    PutU32(&b, o + 16, SectionRva(layout, 0));  // entry point
    PutU32(&b, o + 32, layout.sectionAlignment);
    PutU32(&b, o + 36, layout.fileAlignment);
    PutU16(&b, o + 40, 4);
    PutU16(&b, o + 48, 4);
    PutU32(&b, o + 60, layout.sizeOfHeaders);
    PutU16(&b, o + 68, 2);  // GUI
    PutU32(&b, o + (layout.pe32plus ? 108 : 92), 16);
    std::uint32_t init = 0;
    std::uint32_t imageEnd = SectionRva(layout, layout.sections.size());
    for (std::size_t i = 0; i < layout.sections.size(); ++i) {
        const TestSection& s = layout.sections[i];
        std::uint32_t raw = static_cast<std::uint32_t>(AlignUp(s.data.size(), layout.fileAlignment));
        std::uint32_t at = static_cast<std::uint32_t>(b.size());
        std::uint32_t h = TableOffset(layout.pe32plus) + 40 * static_cast<std::uint32_t>(i);
        for (std::size_t k = 0; k < s.name.size() && k < 8; ++k) b[h + k] = static_cast<std::uint8_t>(s.name[k]);
        PutU32(&b, h + 8, s.virtualSize ? s.virtualSize : static_cast<std::uint32_t>(s.data.size()));
        PutU32(&b, h + 12, SectionRva(layout, i));
        PutU32(&b, h + 16, raw);
        PutU32(&b, h + 20, raw ? at : 0);
        PutU32(&b, h + 36, s.characteristics);
        if (s.characteristics & 0x40) init += raw;
        b.insert(b.end(), s.data.begin(), s.data.end());
        b.resize(at + raw, 0);
        if (static_cast<int>(i) == layout.resourceSection) {
            PutU32(&b, DirOffset(layout.pe32plus) + 16, SectionRva(layout, i));
            PutU32(&b, DirOffset(layout.pe32plus) + 20, static_cast<std::uint32_t>(s.data.size()));
        }
    }
    PutU32(&b, o + 8, init);
    PutU32(&b, o + 56, imageEnd);
    b.insert(b.end(), layout.overlay.begin(), layout.overlay.end());
    if (!layout.certificate.empty()) {
        b.resize(AlignUp(b.size(), 8), 0);
        PutU32(&b, DirOffset(layout.pe32plus) + 32, static_cast<std::uint32_t>(b.size()));
        PutU32(&b, DirOffset(layout.pe32plus) + 36, static_cast<std::uint32_t>(layout.certificate.size()));
        b.insert(b.end(), layout.certificate.begin(), layout.certificate.end());
    }
    return b;
}

// A plain image: code, data, and relocations, no resources.
inline TestImageLayout PlainLayout(std::uint16_t machine = 0x8664, bool pe32plus = true) {
    TestImageLayout layout;
    layout.machine = machine;
    layout.pe32plus = pe32plus;
    layout.sections.push_back({".text", std::vector<std::uint8_t>(0x300, 0xC3), 0, 0x60000020});
    layout.sections.push_back({".data", std::vector<std::uint8_t>(0x80, 0x11), 0x100, 0xC0000040});
    layout.sections.push_back({".reloc", std::vector<std::uint8_t>(0x40, 0x22), 0, 0x42000040});
    return layout;
}

// Parses an image that must parse; a failure is reported with the reader's reason.
inline PeImage Parsed(const std::vector<std::uint8_t>& bytes) {
    PeImage image;
    std::string error;
    EXPECT_TRUE(ParsePe(bytes, &image, &error)) << error;
    return image;
}

}  // namespace kelpack::testing
