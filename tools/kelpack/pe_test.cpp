#include "pe.h"

#include <gtest/gtest.h>

#include "pe_write.h"
#include "test_image.h"

namespace kelpack {
namespace {

using testing::make_image;
using testing::parsed;
using testing::plain_layout;
using testing::TestImageLayout;


std::string parse_error(const std::vector<std::uint8_t>& bytes) {
    PeImage image;
    std::string error;
    EXPECT_FALSE(parse_pe(bytes, &image, &error));
    EXPECT_FALSE(error.empty());
    return error;
}

// An image whose resource section holds a tree built by our own writer.
std::vector<std::uint8_t> image_with_resources(const ResourceList& list) {
    TestImageLayout layout = plain_layout();
    std::uint32_t rva = testing::section_rva(layout, 3);
    layout.sections.push_back({".rsrc", build_resource_section(list, rva), 0, 0x40000040});
    layout.resource_section = 3;
    return make_image(layout);
}

ResourceList sample_resources() {
    ResourceList list;
    put_resource(&list, res_name_upper("Text"), res_name_upper("CommandLine"), {'a', 'p', 'p'});
    put_resource(&list, res_id(14), res_id(50), {0, 0, 1, 0, 0, 0});
    put_resource(&list, res_name_upper("KELFILE"), res_name_upper("KEL-APPLICATION.KEL"), std::vector<std::uint8_t>(1000, 7));
    return list;
}

TEST(PeReader, HeadersOfEachMachineAndFormat) {
    struct Case { std::uint16_t machine; bool plus; const char* name; };
    for (Case c : {Case{0x8664, true, "x64"}, Case{0x14c, false, "x86"}, Case{0x1c0, false, "ARM"},
                   Case{0x1c2, false, "ARM Thumb"}, Case{0x1c4, false, "ARMv7 Thumb-2"}}) {
        PeImage image = parsed(make_image(plain_layout(c.machine, c.plus)));
        EXPECT_EQ(image.machine, c.machine);
        EXPECT_EQ(image.pe32plus, c.plus);
        EXPECT_EQ(machine_name(image.machine), c.name);
        ASSERT_EQ(image.sections.size(), 3u);
        EXPECT_EQ(image.sections[0].name, ".text");
        EXPECT_EQ(image.sections[1].virtual_size, 0x100u);
        EXPECT_EQ(image.sections[2].virtual_address, 0x3000u);
        EXPECT_EQ(image.file_alignment, 0x200u);
        EXPECT_EQ(image.dir_count, 16u);
    }
}

TEST(PeReader, ImageWithoutResourcesHasAnEmptyList) {
    PeImage image = parsed(make_image(plain_layout()));
    ResourceList list{Resource()};
    std::string error;
    EXPECT_TRUE(read_resources(image, &list, &error)) << error;
    EXPECT_TRUE(list.empty());
}

TEST(PeReader, RejectsWhatIsNoPeImageWithTheReason) {
    std::vector<std::uint8_t> good = make_image(plain_layout());
    struct Case { const char* why; std::function<void(std::vector<std::uint8_t>*)> damage; const char* expect; };
    std::vector<Case> cases = {
        {"empty", [](auto* b) { b->clear(); }, "shorter than a DOS header"},
        {"no MZ", [](auto* b) { (*b)[0] = 'Z'; }, "no MZ signature"},
        {"PE offset past end", [](auto* b) { put_u32(b, 0x3c, 0x7FFFFFF0); }, "past the end"},
        {"no PE signature", [](auto* b) { (*b)[testing::kPeOffset + 1] = 'X'; }, "no PE signature"},
        {"unknown magic", [](auto* b) { put_u16(b, testing::kOptOffset, 0x107); }, "magic"},
        {"no optional header", [](auto* b) { put_u16(b, testing::kPeOffset + 20, 0); }, "no optional header"},
        {"optional header too small", [](auto* b) { put_u16(b, testing::kPeOffset + 20, 100); }, "too small"},
        {"directories past the optional header", [](auto* b) { put_u16(b, testing::kPeOffset + 20, 112 + 8); },
         "too small for its 16 data directories"},
        {"file alignment not a power of two", [](auto* b) { put_u32(b, testing::kOptOffset + 36, 0x300); }, "FileAlignment"},
        {"section alignment below file alignment", [](auto* b) { put_u32(b, testing::kOptOffset + 32, 0x100); }, "SectionAlignment"},
        {"no sections", [](auto* b) { put_u16(b, testing::kPeOffset + 6, 0); }, "no sections"},
        {"too many sections", [](auto* b) { put_u16(b, testing::kPeOffset + 6, 0xFFFF); }, "at most 96"},
        {"section raw data past the end", [](auto* b) { put_u32(b, testing::table_offset(true) + 40 + 20, 0x10000); }, "past the end of the file"},
        {"section raw size huge", [](auto* b) { put_u32(b, testing::table_offset(true) + 16, 0xFFFFFF00); }, "past the end of the file"},
        {"raw data inside the headers", [](auto* b) { put_u32(b, testing::table_offset(true) + 20, 0x100); }, "inside the headers"},
        {"raw data overlap", [](auto* b) { put_u32(b, testing::table_offset(true) + 40 + 20, 0x500); }, "overlap in the file"},
        {"virtual overlap", [](auto* b) { put_u32(b, testing::table_offset(true) + 8, 0x1800); }, "overlap in memory"},
        {"virtual range wraps",
         [](auto* b) {
             put_u32(b, testing::table_offset(true) + 80 + 8, 0x1000);
             put_u32(b, testing::table_offset(true) + 80 + 12, 0xFFFFFF00);
         },
         "4 GiB"},
        {"section inside the headers in memory", [](auto* b) { put_u32(b, testing::table_offset(true) + 12, 0x200); }, "inside the headers"},
        {"headers larger than the file", [](auto* b) { put_u32(b, testing::kOptOffset + 60, 0x100000); }, "headers claim"},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> b = good;
        c.damage(&b);
        std::string error = parse_error(b);
        EXPECT_NE(error.find(c.expect), std::string::npos) << c.why << ": " << error;
    }
}

TEST(PeReader, EveryTruncationIsAnErrorNeverACrash) {
    for (bool with_resources : {false, true}) {
        std::vector<std::uint8_t> good = with_resources ? image_with_resources(sample_resources()) : make_image(plain_layout());
        for (std::size_t n = 0; n < good.size(); ++n) {
            std::vector<std::uint8_t> cut(good.begin(), good.begin() + n);
            PeImage image;
            std::string error;
            ASSERT_FALSE(parse_pe(cut, &image, &error)) << "truncated at " << n;
            ASSERT_FALSE(error.empty()) << "truncated at " << n;
        }
    }
}

TEST(PeReader, ResourcesWrittenReadBackByteForByte) {
    ResourceList list = sample_resources();
    Resource lang;
    lang.type = res_name_upper("Text");
    lang.name = res_name_upper("CommandLine");
    lang.lang = 0x409;
    lang.codepage = 1252;
    lang.data = {'x'};
    list.push_back(lang);
    PeImage image = parsed(image_with_resources(list));
    ResourceList back;
    std::string error;
    ASSERT_TRUE(read_resources(image, &back, &error)) << error;
    sort_resources(&list);
    ASSERT_EQ(back.size(), list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(back[i].type.name, list[i].type.name);
        EXPECT_EQ(back[i].type.id, list[i].type.id);
        EXPECT_EQ(back[i].name.name, list[i].name.name);
        EXPECT_EQ(back[i].name.id, list[i].name.id);
        EXPECT_EQ(back[i].lang, list[i].lang);
        EXPECT_EQ(back[i].codepage, list[i].codepage);
        EXPECT_EQ(back[i].data, list[i].data);
    }
}

// Damage inside the resource tree of an otherwise good image.
TEST(PeReader, DamagedResourceDirectoriesAreRejected) {
    ResourceList list = sample_resources();
    std::vector<std::uint8_t> good = image_with_resources(list);
    PeImage image = parsed(good);
    const std::uint32_t base = image.sections[3].raw_offset;
    // Root: 3 types (KELFILE, TEXT named; #14), so entries at base+16.
    struct Case { const char* why; std::function<void(std::vector<std::uint8_t>*)> damage; const char* expect; };
    std::vector<Case> cases = {
        {"type entry points at the root (loop)", [&](auto* b) { put_u32(b, base + 16 + 4, 0x80000000u); }, "reached twice"},
        {"type directory outside the section", [&](auto* b) { put_u32(b, base + 16 + 4, 0x80000000u | 0x7FFF0000u); }, "outside the resource section"},
        {"type entry points at data", [&](auto* b) { put_u32(b, base + 16 + 4, 0x40); }, "where a directory belongs"},
        {"name string outside the section", [&](auto* b) { put_u32(b, base + 16, 0x80000000u | 0x7FFFFF00u); }, "outside the resource section"},
        {"entry count too large", [&](auto* b) { put_u16(b, base + 14, 0xFFFF); }, "more entries than fit"},
        {"directory RVA in no section", [&](auto* b) { put_u32(b, testing::dir_offset(true) + 16, 0x900000); }, "in no section"},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> b = good;
        c.damage(&b);
        PeImage damaged = parsed(b);
        ResourceList out;
        std::string error;
        EXPECT_FALSE(read_resources(damaged, &out, &error)) << c.why;
        EXPECT_NE(error.find(c.expect), std::string::npos) << c.why << ": " << error;
        EXPECT_TRUE(out.empty()) << c.why;
    }
}

TEST(PeReader, DataOutsideTheFileIsRejected) {
    std::vector<std::uint8_t> good = image_with_resources(sample_resources());
    PeImage image = parsed(good);
    // The first data entry follows the directories; find it by its RVA field.
    std::vector<std::uint8_t> rsrc(good.begin() + image.sections[3].raw_offset,
                                   good.begin() + image.sections[3].raw_offset + image.sections[3].raw_size);
    ResourceList list;
    std::string error;
    ASSERT_TRUE(read_resources(image, &list, &error));
    // Each data entry's RVA points into the section; move the first beyond it.
    for (std::size_t off = 0; off + 16 <= rsrc.size(); off += 4) {
        std::uint32_t rva = get_u32(rsrc, off), size = get_u32(rsrc, off + 4);
        if (size == 1000 && rva > image.sections[3].virtual_address) {
            std::vector<std::uint8_t> b = good;
            put_u32(&b, image.sections[3].raw_offset + off + 4, 0x7FFFFFFF);
            PeImage damaged = parsed(b);
            EXPECT_FALSE(read_resources(damaged, &list, &error));
            EXPECT_NE(error.find("do not lie inside the file"), std::string::npos) << error;
            return;
        }
    }
    FAIL() << "no data entry of 1000 bytes found";
}

// Flipped bytes anywhere in the headers and the tree: every outcome is a
// clean answer. Run under AddressSanitizer this is where a stray read shows.
TEST(PeReader, CorruptedBytesGiveAnAnswerNeverACrash) {
    std::vector<std::uint8_t> good = image_with_resources(sample_resources());
    PeImage image = parsed(good);
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    std::vector<std::size_t> regions = {0, image.sections[3].raw_offset};
    int failures = 0;
    for (int round = 0; round < 4000; ++round) {
        std::vector<std::uint8_t> b = good;
        std::size_t start = regions[round % 2];
        std::size_t span = round % 2 ? 0x200 : 0x300;
        for (int k = 0; k < 1 + static_cast<int>(next() % 4); ++k) b[start + (next() >> 8) % span] = static_cast<std::uint8_t>(next() >> 16);
        PeImage img;
        ResourceList list;
        std::string error;
        if (!parse_pe(b, &img, &error) || !read_resources(img, &list, &error)) {
            ASSERT_FALSE(error.empty());
            ++failures;
            continue;
        }
        // What reads cleanly must also write cleanly.
        std::vector<std::uint8_t> out;
        RsrcPlacement placement;
        std::vector<std::string> warnings;
        if (write_resources(img, list, &out, &placement, &warnings, &error)) {
            PeImage again;
            ResourceList back;
            ASSERT_TRUE(parse_pe(out, &again, &error)) << error;
            ASSERT_TRUE(read_resources(again, &back, &error)) << error;
            ASSERT_EQ(back.size(), list.size());
        }
    }
    EXPECT_GT(failures, 0);
}

TEST(PeChecksum, FoldsCarriesSkipsItsFieldAndAddsTheLength) {
    // Words 0x0201 and 0x0003, plus the length 3.
    EXPECT_EQ(pe_checksum({0x01, 0x02, 0x03}, 100), 0x0204u + 3);
    // 0xFFFF + 0x0002 carries out and folds back to 0x0002.
    EXPECT_EQ(pe_checksum({0xFF, 0xFF, 0x02, 0x00}, 100), 0x0002u + 4);
    // The field's own four bytes count as zero, at any offset.
    EXPECT_EQ(pe_checksum({0x05, 0x00, 0xAA, 0xBB, 0xCC, 0xDD}, 2), 0x0005u + 6);
    EXPECT_EQ(pe_checksum({0x05, 0xAA, 0xBB, 0xCC, 0xDD, 0x00}, 1), 0x0005u + 6);
}

}  // namespace
}  // namespace kelpack
