// ***Used only by the tests***: small PE images built from a description,
// so that kelpack's reader and writer can be tested without a cross
// compiler. The layout is the one linkers produce: DOS header, PE headers
// with 16 data directories, the section table, then each section's data on
// a file alignment boundary, then any overlay. The bytes are written here,
// not with kelpack's own helpers, so that a fault there shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kelpack/pe.h"
#include "le_bytes.h"

namespace testsupport {

// One section of a test image.
struct TestSection {
    std::string name;
    std::vector<uint8_t> data;  // raw data (padded to the file alignment)
    uint32_t virtualSize = 0;   // 0: data.size()
    uint32_t characteristics = 0x40000040;
};

// A test image: its headers' fields and its sections in table order.
struct TestImageLayout {
    uint16_t machine = 0x8664;
    bool pe32plus = true;
    uint32_t fileAlignment = 0x200;
    uint32_t sectionAlignment = 0x1000;
    uint32_t sizeOfHeaders = 0x400;
    std::vector<TestSection> sections;
    int resourceSection = -1;          // its VA goes into data directory 2
    std::vector<uint8_t> overlay;      // bytes after the last section
    uint32_t symbolTable = 0;          // PointerToSymbolTable, when not 0
    std::vector<uint8_t> certificate;  // appended and named in directory 4
    uint16_t subsystem = 2;            // Windows GUI; 9 is Windows CE GUI
    uint16_t characteristics = 0x0022; // executable, large-address aware; | 0x2000 for a DLL
    int exportSection = -1;            // its VA goes into data directory 0
};

// Offsets inside images made by MakeImage().
constexpr uint32_t kPeOffset = 0x80;
constexpr uint32_t kOptOffset = kPeOffset + 24;
inline uint32_t DirOffset(bool pe32plus) { return kOptOffset + (pe32plus ? 112 : 96); }
inline uint32_t TableOffset(bool pe32plus) { return kOptOffset + (pe32plus ? 240 : 224); }

// RVA of section i in an image made from `layout`.
inline uint32_t SectionRva(const TestImageLayout& layout, size_t i) {
    uint64_t va = AlignUp(layout.sizeOfHeaders, layout.sectionAlignment);
    for (size_t k = 0; k < i; ++k) {
        const TestSection& s = layout.sections[k];
        uint32_t span = s.virtualSize ? s.virtualSize : static_cast<uint32_t>(s.data.size());
        va = AlignUp(va + (span ? span : 1), layout.sectionAlignment);
    }
    return static_cast<uint32_t>(va);
}

// The image's bytes.
inline std::vector<uint8_t> MakeImage(const TestImageLayout& layout) {
    std::vector<uint8_t> b(layout.sizeOfHeaders, 0);
    b[0] = 'M';
    b[1] = 'Z';
    PutU32(b, 0x3c, kPeOffset);
    b[kPeOffset] = 'P';
    b[kPeOffset + 1] = 'E';
    PutU16(b, kPeOffset + 4, layout.machine);
    PutU16(b, kPeOffset + 6, static_cast<uint32_t>(layout.sections.size()));
    PutU32(b, kPeOffset + 12, layout.symbolTable);
    PutU16(b, kPeOffset + 20, layout.pe32plus ? 240 : 224);
    PutU16(b, kPeOffset + 22, layout.characteristics);
    const uint32_t o = kOptOffset;
    PutU16(b, o, layout.pe32plus ? 0x20b : 0x10b);
    PutU32(b, o + 16, SectionRva(layout, 0));  // entry point
    PutU32(b, o + 32, layout.sectionAlignment);
    PutU32(b, o + 36, layout.fileAlignment);
    PutU16(b, o + 40, 4);
    PutU16(b, o + 48, 4);
    PutU32(b, o + 60, layout.sizeOfHeaders);
    PutU16(b, o + 68, layout.subsystem);
    PutU32(b, o + (layout.pe32plus ? 108 : 92), 16);
    uint32_t init = 0;
    uint32_t imageEnd = SectionRva(layout, layout.sections.size());
    for (size_t i = 0; i < layout.sections.size(); ++i) {
        const TestSection& s = layout.sections[i];
        uint32_t raw = static_cast<uint32_t>(AlignUp(s.data.size(), layout.fileAlignment));
        uint32_t at = static_cast<uint32_t>(b.size());
        uint32_t h = TableOffset(layout.pe32plus) + 40 * static_cast<uint32_t>(i);
        for (size_t k = 0; k < s.name.size() && k < 8; ++k) b[h + k] = static_cast<uint8_t>(s.name[k]);
        PutU32(b, h + 8, s.virtualSize ? s.virtualSize : static_cast<uint32_t>(s.data.size()));
        PutU32(b, h + 12, SectionRva(layout, i));
        PutU32(b, h + 16, raw);
        PutU32(b, h + 20, raw ? at : 0);
        PutU32(b, h + 36, s.characteristics);
        if (s.characteristics & 0x40) init += raw;
        b.insert(b.end(), s.data.begin(), s.data.end());
        b.resize(at + raw, 0);
        if (static_cast<int>(i) == layout.exportSection) {
            PutU32(b, DirOffset(layout.pe32plus), SectionRva(layout, i));
            PutU32(b, DirOffset(layout.pe32plus) + 4, static_cast<uint32_t>(s.data.size()));
        }
        if (static_cast<int>(i) == layout.resourceSection) {
            PutU32(b, DirOffset(layout.pe32plus) + 16, SectionRva(layout, i));
            PutU32(b, DirOffset(layout.pe32plus) + 20, static_cast<uint32_t>(s.data.size()));
        }
    }
    PutU32(b, o + 8, init);
    PutU32(b, o + 56, imageEnd);
    b.insert(b.end(), layout.overlay.begin(), layout.overlay.end());
    if (!layout.certificate.empty()) {
        b.resize(AlignUp(b.size(), 8), 0);
        PutU32(b, DirOffset(layout.pe32plus) + 32, static_cast<uint32_t>(b.size()));
        PutU32(b, DirOffset(layout.pe32plus) + 36, static_cast<uint32_t>(layout.certificate.size()));
        b.insert(b.end(), layout.certificate.begin(), layout.certificate.end());
    }
    return b;
}

// A plain image: code, data, and relocations, no resources.
inline TestImageLayout PlainLayout(uint16_t machine = 0x8664, bool pe32plus = true) {
    TestImageLayout layout;
    layout.machine = machine;
    layout.pe32plus = pe32plus;
    layout.sections.push_back({".text", std::vector<uint8_t>(0x300, 0xC3), 0, 0x60000020});
    layout.sections.push_back({".data", std::vector<uint8_t>(0x80, 0x11), 0x100, 0xC0000040});
    layout.sections.push_back({".reloc", std::vector<uint8_t>(0x40, 0x22), 0, 0x42000040});
    return layout;
}

// A plain image whose data holds what a launcher's does: the name of the
// resource it reads its command line from, as UTF-16 text.
inline TestImageLayout LauncherLayout(uint16_t machine = 0x8664, bool pe32plus = true) {
    TestImageLayout layout = PlainLayout(machine, pe32plus);
    std::vector<uint8_t>& data = layout.sections[1].data;
    const char name[] = "CommandLine";
    for (size_t i = 0; i + 1 < sizeof name; ++i) {
        data[2 * i] = static_cast<uint8_t>(name[i]);
        data[2 * i + 1] = 0;
    }
    return layout;
}

// Adds an export section naming `names` (each exported at the start of the
// first section), as a linker lays one out: the directory, the address,
// name and ordinal tables, then the names.
inline void AddExports(TestImageLayout* layout, const std::vector<std::string>& names) {
    const uint32_t rva = SectionRva(*layout, layout->sections.size());
    const uint32_t n = static_cast<uint32_t>(names.size());
    const uint32_t functions = 40, nameTable = functions + 4 * n, ordinals = nameTable + 4 * n;
    std::vector<uint8_t> d(ordinals + 2 * n, 0);
    PutU32(d, 16, 1);  // ordinal base
    PutU32(d, 20, n);
    PutU32(d, 24, n);
    PutU32(d, 28, rva + functions);
    PutU32(d, 32, rva + nameTable);
    PutU32(d, 36, rva + ordinals);
    for (uint32_t i = 0; i < n; ++i) {
        PutU32(d, functions + 4 * i, SectionRva(*layout, 0));
        PutU32(d, nameTable + 4 * i, rva + static_cast<uint32_t>(d.size()));
        PutU16(d, ordinals + 2 * i, i);
        d.insert(d.end(), names[i].begin(), names[i].end());
        d.push_back(0);
    }
    layout->exportSection = static_cast<int>(layout->sections.size());
    layout->sections.push_back({".edata", d, 0, 0x40000040});
}

// Parses, with kelpack's reader, an image that must parse; a failure is
// reported with the reader's reason.
inline kelpack::PeImage Parsed(const std::vector<uint8_t>& bytes) {
    kelpack::PeImage image;
    std::string error;
    EXPECT_TRUE(kelpack::ParsePe(bytes, &image, &error)) << error;
    return image;
}

// The resources of an image that must parse and carry a readable resource
// tree, read with kelpack's reader; a failure is reported with its reason.
inline kelpack::ResourceList ResourcesOfImage(const std::vector<uint8_t>& bytes) {
    kelpack::ResourceList list;
    std::string error;
    EXPECT_TRUE(kelpack::ReadResources(Parsed(bytes), &list, &error)) << error;
    return list;
}

}  // namespace testsupport
