#include "pe.h"

#include <gtest/gtest.h>

#include "byteio.h"
#include "pe_write.h"

#include "image_in_memory.h"
#include "pe_builder.h"
#include "scratch_dir.h"

namespace kelpack {
namespace {

using testsupport::MakeImage;
using testsupport::Parsed;
using testsupport::PlainLayout;
using testsupport::TestImageLayout;


std::string ParseError(const std::vector<std::uint8_t>& bytes) {
    PeImage image;
    std::string error;
    EXPECT_FALSE(ParsePe(bytes, &image, &error));
    EXPECT_FALSE(error.empty());
    return error;
}

// An image whose resource section holds a tree built by our own writer.
std::vector<std::uint8_t> ImageWithResources(const ResourceList& list) {
    TestImageLayout layout = PlainLayout();
    std::uint32_t rva = testsupport::SectionRva(layout, 3);
    layout.sections.push_back({".rsrc", BuildResourceSection(list, rva), 0, 0x40000040});
    layout.resourceSection = 3;
    return MakeImage(layout);
}

ResourceList SampleResources() {
    ResourceList list;
    PutResource(&list, ResNameUpper("Text"), ResNameUpper("CommandLine"), {'a', 'p', 'p'});
    PutResource(&list, IntResId(14), IntResId(50), {0, 0, 1, 0, 0, 0});
    PutResource(&list, ResNameUpper("KELFILE"), ResNameUpper("KEL-APPLICATION.KEL"), std::vector<std::uint8_t>(1000, 7));
    return list;
}

TEST(PeReader, HeadersOfEachMachineAndFormat) {
    struct Case { std::uint16_t machine; bool plus; const char* name; };
    for (Case c : {Case{0x8664, true, "x64"}, Case{0x14c, false, "x86"}, Case{0x1c0, false, "ARM"},
                   Case{0x1c2, false, "ARM Thumb"}, Case{0x1c4, false, "ARMv7 Thumb-2"}}) {
        PeImage image = Parsed(MakeImage(PlainLayout(c.machine, c.plus)));
        EXPECT_EQ(image.machine, c.machine);
        EXPECT_EQ(image.pe32plus, c.plus);
        EXPECT_EQ(MachineName(image.machine), c.name);
        ASSERT_EQ(image.sections.size(), 3u);
        EXPECT_EQ(image.sections[0].name, ".text");
        EXPECT_EQ(image.sections[1].virtualSize, 0x100u);
        EXPECT_EQ(image.sections[2].virtualAddress, 0x3000u);
        EXPECT_EQ(image.fileAlignment, 0x200u);
        EXPECT_EQ(image.dirCount, 16u);
    }
}

TEST(PeReader, ImageWithoutResourcesHasAnEmptyList) {
    PeImage image = Parsed(MakeImage(PlainLayout()));
    ResourceList list{Resource()};
    std::string error;
    EXPECT_TRUE(ReadResources(image, &list, &error)) << error;
    EXPECT_TRUE(list.empty());
}

// Damaged images, each with what the reader must say of it.
struct Damage { const char* why; std::function<void(std::vector<std::uint8_t>*)> damage; const char* expect; };
std::vector<Damage> Damages() {
    return {
        {"empty", [](auto* b) { b->clear(); }, "shorter than a DOS header"},
        {"no MZ", [](auto* b) { (*b)[0] = 'Z'; }, "no MZ signature"},
        {"PE offset past end", [](auto* b) { PutU32(b, 0x3c, 0x7FFFFFF0); }, "past the end"},
        {"no PE signature", [](auto* b) { (*b)[testsupport::kPeOffset + 1] = 'X'; }, "no PE signature"},
        {"unknown magic", [](auto* b) { PutU16(b, testsupport::kOptOffset, 0x107); }, "magic"},
        {"no optional header", [](auto* b) { PutU16(b, testsupport::kPeOffset + 20, 0); }, "no optional header"},
        {"optional header too small", [](auto* b) { PutU16(b, testsupport::kPeOffset + 20, 100); }, "too small"},
        {"directories past the optional header", [](auto* b) { PutU16(b, testsupport::kPeOffset + 20, 112 + 8); },
         "too small for its 16 data directories"},
        {"file alignment not a power of two", [](auto* b) { PutU32(b, testsupport::kOptOffset + 36, 0x300); }, "FileAlignment"},
        {"section alignment below file alignment", [](auto* b) { PutU32(b, testsupport::kOptOffset + 32, 0x100); }, "SectionAlignment"},
        {"no sections", [](auto* b) { PutU16(b, testsupport::kPeOffset + 6, 0); }, "no sections"},
        {"too many sections", [](auto* b) { PutU16(b, testsupport::kPeOffset + 6, 0xFFFF); }, "at most 96"},
        {"section raw data past the end", [](auto* b) { PutU32(b, testsupport::TableOffset(true) + 40 + 20, 0x10000); }, "past the end of the file"},
        {"section raw size huge", [](auto* b) { PutU32(b, testsupport::TableOffset(true) + 16, 0xFFFFFF00); }, "past the end of the file"},
        {"raw data inside the headers", [](auto* b) { PutU32(b, testsupport::TableOffset(true) + 20, 0x100); }, "inside the headers"},
        {"raw data overlap", [](auto* b) { PutU32(b, testsupport::TableOffset(true) + 40 + 20, 0x500); }, "overlap in the file"},
        {"virtual overlap", [](auto* b) { PutU32(b, testsupport::TableOffset(true) + 8, 0x1800); }, "overlap in memory"},
        {"virtual range wraps",
         [](auto* b) {
             PutU32(b, testsupport::TableOffset(true) + 80 + 8, 0x1000);
             PutU32(b, testsupport::TableOffset(true) + 80 + 12, 0xFFFFFF00);
         },
         "4 GiB"},
        {"section inside the headers in memory", [](auto* b) { PutU32(b, testsupport::TableOffset(true) + 12, 0x200); }, "inside the headers"},
        {"headers larger than the file", [](auto* b) { PutU32(b, testsupport::kOptOffset + 60, 0x100000); }, "headers claim"},
    };
}

TEST(PeReader, RejectsWhatIsNoPeImageWithTheReason) {
    std::vector<std::uint8_t> good = MakeImage(PlainLayout());
    for (const Damage& c : Damages()) {
        std::vector<std::uint8_t> b = good;
        c.damage(&b);
        std::string error = ParseError(b);
        EXPECT_NE(error.find(c.expect), std::string::npos) << c.why << ": " << error;
    }
}

class PeFromFile : public testsupport::ScratchDirTest {};

// Read from its file as it is looked at, an image reads as its bytes held
// whole do: the same refusals, the same resources.
TEST_F(PeFromFile, ReadAsLookedAtItReadsAsWhenHeldWhole) {
    std::vector<std::uint8_t> good = ImageWithResources(SampleResources());
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files = {{"good", good}};
    for (const Damage& c : Damages()) {
        files.push_back({c.why, good});
        c.damage(&files.back().second);
    }
    for (const auto& f : files) {
        Put("image", f.second);
        PeImage held, read;
        ResourceList heldList, readList;
        std::string heldWhy, readWhy;
        bool heldOk = ParsePe(f.second, &held, &heldWhy) && ReadResources(held, &heldList, &heldWhy);
        bool readOk = ParsePe(PeBytes(Path("image"), f.second.size()), &read, &readWhy) && ReadResources(read, &readList, &readWhy);
        EXPECT_EQ(readOk, heldOk) << f.first;
        EXPECT_EQ(readWhy, heldWhy) << f.first;
        EXPECT_EQ(read.bytes.failure(), "") << f.first;
        ASSERT_EQ(readList.size(), heldList.size()) << f.first;
        for (std::size_t i = 0; i < readList.size(); ++i) EXPECT_EQ(readList[i].data, heldList[i].data) << f.first << " " << i;
    }
    EXPECT_EQ(files.size(), Damages().size() + 1);
}

// A file cut short after kelpack took its size says so, rather than
// passing for a damaged image.
TEST_F(PeFromFile, AFileThatShrinksWhileReadIsUnreadableNotDamaged) {
    std::vector<std::uint8_t> good = ImageWithResources(SampleResources());
    Put("image", good);
    PeBytes bytes(Path("image"), good.size());
    std::filesystem::resize_file(Path("image"), 0x200);
    PeImage image;
    ResourceList list;
    std::string why;
    EXPECT_FALSE(ParsePe(bytes, &image, &why) && ReadResources(image, &list, &why));
    EXPECT_NE(image.bytes.failure().find("ends before"), std::string::npos) << image.bytes.failure();
}

TEST(PeReader, EveryTruncationIsAnErrorNeverACrash) {
    for (bool withResources : {false, true}) {
        std::vector<std::uint8_t> good = withResources ? ImageWithResources(SampleResources()) : MakeImage(PlainLayout());
        for (std::size_t n = 0; n < good.size(); ++n) {
            std::vector<std::uint8_t> cut(good.begin(), good.begin() + n);
            PeImage image;
            std::string error;
            ASSERT_FALSE(ParsePe(cut, &image, &error)) << "truncated at " << n;
            ASSERT_FALSE(error.empty()) << "truncated at " << n;
        }
    }
}

TEST(PeReader, ResourcesWrittenReadBackByteForByte) {
    ResourceList list = SampleResources();
    Resource lang;
    lang.type = ResNameUpper("Text");
    lang.name = ResNameUpper("CommandLine");
    lang.lang = 0x409;
    lang.codepage = 1252;
    lang.data = {'x'};
    list.push_back(lang);
    PeImage image = Parsed(ImageWithResources(list));
    ResourceList back;
    std::string error;
    ASSERT_TRUE(ReadResources(image, &back, &error)) << error;
    SortResources(&list);
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
    ResourceList list = SampleResources();
    std::vector<std::uint8_t> good = ImageWithResources(list);
    PeImage image = Parsed(good);
    const std::uint32_t base = image.sections[3].rawOffset;
    // Root: 3 types (KELFILE, TEXT named; #14), so entries at base+16.
    struct Case { const char* why; std::function<void(std::vector<std::uint8_t>*)> damage; const char* expect; };
    std::vector<Case> cases = {
        {"type entry points at the root (loop)", [&](auto* b) { PutU32(b, base + 16 + 4, 0x80000000u); }, "reached twice"},
        {"type directory outside the section", [&](auto* b) { PutU32(b, base + 16 + 4, 0x80000000u | 0x7FFF0000u); }, "outside the resource section"},
        {"type entry points at data", [&](auto* b) { PutU32(b, base + 16 + 4, 0x40); }, "where a directory belongs"},
        {"name string outside the section", [&](auto* b) { PutU32(b, base + 16, 0x80000000u | 0x7FFFFF00u); }, "outside the resource section"},
        {"entry count too large", [&](auto* b) { PutU16(b, base + 14, 0xFFFF); }, "more entries than fit"},
        {"directory RVA in no section", [&](auto* b) { PutU32(b, testsupport::DirOffset(true) + 16, 0x900000); }, "in no section"},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> b = good;
        c.damage(&b);
        PeImage damaged = Parsed(b);
        ResourceList out;
        std::string error;
        EXPECT_FALSE(ReadResources(damaged, &out, &error)) << c.why;
        EXPECT_NE(error.find(c.expect), std::string::npos) << c.why << ": " << error;
        EXPECT_TRUE(out.empty()) << c.why;
    }
}

TEST(PeReader, DataOutsideTheFileIsRejected) {
    std::vector<std::uint8_t> good = ImageWithResources(SampleResources());
    PeImage image = Parsed(good);
    // The first data entry follows the directories; find it by its RVA field.
    std::vector<std::uint8_t> rsrc(good.begin() + image.sections[3].rawOffset,
                                   good.begin() + image.sections[3].rawOffset + image.sections[3].rawSize);
    ResourceList list;
    std::string error;
    ASSERT_TRUE(ReadResources(image, &list, &error));
    // Each data entry's RVA points into the section; move the first beyond it.
    for (std::size_t off = 0; off + 16 <= rsrc.size(); off += 4) {
        std::uint32_t rva = GetU32(rsrc, off), size = GetU32(rsrc, off + 4);
        if (size == 1000 && rva > image.sections[3].virtualAddress) {
            std::vector<std::uint8_t> b = good;
            PutU32(&b, image.sections[3].rawOffset + off + 4, 0x7FFFFFFF);
            PeImage damaged = Parsed(b);
            EXPECT_FALSE(ReadResources(damaged, &list, &error));
            EXPECT_NE(error.find("do not lie inside the file"), std::string::npos) << error;
            return;
        }
    }
    FAIL() << "no data entry of 1000 bytes found";
}

// Flipped bytes anywhere in the headers and the tree: every outcome is a
// clean answer. Run under AddressSanitizer this is where a stray read shows.
TEST(PeReader, CorruptedBytesGiveAnAnswerNeverACrash) {
    std::vector<std::uint8_t> good = ImageWithResources(SampleResources());
    PeImage image = Parsed(good);
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    std::vector<std::size_t> regions = {0, image.sections[3].rawOffset};
    int failures = 0;
    for (int round = 0; round < 4000; ++round) {
        std::vector<std::uint8_t> b = good;
        std::size_t start = regions[round % 2];
        std::size_t span = round % 2 ? 0x200 : 0x300;
        for (int k = 0; k < 1 + static_cast<int>(next() % 4); ++k) b[start + (next() >> 8) % span] = static_cast<std::uint8_t>(next() >> 16);
        PeImage img;
        ResourceList list;
        std::string error;
        if (!ParsePe(b, &img, &error) || !ReadResources(img, &list, &error)) {
            ASSERT_FALSE(error.empty());
            ++failures;
            continue;
        }
        // What reads cleanly must also write cleanly.
        std::vector<std::uint8_t> out;
        RsrcPlacement placement;
        std::vector<std::string> warnings;
        if (LayOutResources(img, list, &out, &placement, &warnings, &error)) {
            PeImage again;
            ResourceList back;
            ASSERT_TRUE(ParsePe(out, &again, &error)) << error;
            ASSERT_TRUE(ReadResources(again, &back, &error)) << error;
            ASSERT_EQ(back.size(), list.size());
        }
    }
    EXPECT_GT(failures, 0);
}

TEST(PeChecksum, FoldsCarriesSkipsItsFieldAndAddsTheLength) {
    // Words 0x0201 and 0x0003, plus the length 3.
    EXPECT_EQ(PeChecksum({0x01, 0x02, 0x03}, 100), 0x0204u + 3);
    // 0xFFFF + 0x0002 carries out and folds back to 0x0002.
    EXPECT_EQ(PeChecksum({0xFF, 0xFF, 0x02, 0x00}, 100), 0x0002u + 4);
    // The field's own four bytes count as zero, at any offset.
    EXPECT_EQ(PeChecksum({0x05, 0x00, 0xAA, 0xBB, 0xCC, 0xDD}, 2), 0x0005u + 6);
    EXPECT_EQ(PeChecksum({0x05, 0xAA, 0xBB, 0xCC, 0xDD, 0x00}, 1), 0x0005u + 6);
}

}  // namespace
}  // namespace kelpack

namespace kelpack {
namespace {

TEST(PeExports, NamesReadBackAndDamageIsRefused) {
    using namespace testsupport;
    TestImageLayout layout = PlainLayout(0x1c0, false);
    std::string error;
    std::vector<std::string> names;
    ASSERT_TRUE(ReadExportNames(Parsed(MakeImage(layout)), &names, &error)) << error;
    EXPECT_TRUE(names.empty());

    AddExports(&layout, {"KelMainW", "Other"});
    std::vector<uint8_t> bytes = MakeImage(layout);
    ASSERT_TRUE(ReadExportNames(Parsed(bytes), &names, &error)) << error;
    EXPECT_EQ(names, std::vector<std::string>({"KelMainW", "Other"}));

    const uint32_t edata = Parsed(bytes).sections.back().rawOffset;
    struct Case {
        const char* what;
        uint32_t at;      // offset in the export section
        uint32_t value;
        const char* reason;
    };
    const Case cases[] = {
        {"a name table outside the file", 32, 0x7FFF0000, "export name table"},
        {"a name outside the file", 40 + 8, 0x7FFF0000, "export name 1"},
        {"more names than the section holds", 24, 0xFFFF, "export name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bad = bytes;
        testsupport::PutU32(bad, edata + c.at, c.value);
        EXPECT_FALSE(ReadExportNames(Parsed(bad), &names, &error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    // A name without its NUL before the section's end.
    std::vector<uint8_t> unended = bytes;
    const PeSection last = Parsed(bytes).sections.back();
    for (uint32_t i = edata + 40 + 8 + 4; i < last.rawOffset + last.rawSize; ++i) unended[i] = 'A';
    EXPECT_FALSE(ReadExportNames(Parsed(unended), &names, &error));
    EXPECT_NE(error.find("has no end"), std::string::npos) << error;
}

}  // namespace
}  // namespace kelpack
