#include "pe_write.h"

#include <gtest/gtest.h>

#include <functional>

#include "byteio.h"

#include "image_in_memory.h"
#include "pe_builder.h"

namespace kelpack {
namespace {

using testsupport::MakeImage;
using testsupport::Parsed;
using testsupport::PlainLayout;
using testsupport::TestImageLayout;


ResourceList ReadBack(const std::vector<std::uint8_t>& bytes) {
    PeImage image = Parsed(bytes);
    ResourceList list;
    std::string error;
    EXPECT_TRUE(ReadResources(image, &list, &error)) << error;
    return list;
}

// A mixed tree: string and integer types and names, two languages, a
// lower-case name, a name beyond ASCII, empty data.
ResourceList MixedResources() {
    ResourceList list;
    auto add = [&](ResId type, ResId name, std::uint32_t lang, std::vector<std::uint8_t> data) {
        Resource r;
        r.type = type;
        r.name = name;
        r.lang = lang;
        r.data = std::move(data);
        list.push_back(r);
    };
    ResId lower;
    lower.isName = true;
    lower.name = u"lower\u00e9";
    add(IntResId(16), IntResId(1), 0x409, std::vector<std::uint8_t>(92, 0x16));
    add(ResNameUpper("Text"), ResNameUpper("CONFIG"), 0, {'S', '=', '1'});
    add(ResNameUpper("Text"), ResNameUpper("CommandLine"), 0x409, {'a'});
    add(ResNameUpper("Text"), ResNameUpper("CommandLine"), 0, {'b', 'c'});
    add(IntResId(3), IntResId(2), 0, std::vector<std::uint8_t>(33, 3));
    add(IntResId(3), IntResId(1), 0, {});
    add(ResNameUpper("SplashScreen"), lower, 0, std::vector<std::uint8_t>(5, 9));
    add(ResNameUpper("ABC"), IntResId(7), 0, {1, 2, 3});
    return list;
}

void ExpectSameResources(ResourceList want, const ResourceList& got) {
    SortResources(&want);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_TRUE(ResIdMatches(got[i].type, want[i].type)) << i;
        EXPECT_EQ(got[i].type.name, want[i].type.name) << i;
        EXPECT_EQ(got[i].name.name, want[i].name.name) << i;
        EXPECT_EQ(got[i].name.id, want[i].name.id) << i;
        EXPECT_EQ(got[i].lang, want[i].lang) << i;
        EXPECT_EQ(got[i].data, want[i].data) << i;
    }
}

struct Written {
    std::vector<std::uint8_t> bytes;
    RsrcPlacement placement = RsrcPlacement::kNone;
    std::vector<std::string> warnings;
};

Written Write(const std::vector<std::uint8_t>& input, const ResourceList& list) {
    Written w;
    PeImage image = Parsed(input);
    std::string error;
    EXPECT_TRUE(LayOutResources(image, list, &w.bytes, &w.placement, &w.warnings, &error)) << error;
    return w;
}

// Fields every written image must get right, whatever the placement.
void ExpectConsistentHeaders(const std::vector<std::uint8_t>& bytes) {
    PeImage image = Parsed(bytes);
    EXPECT_EQ(image.checksum, PeChecksum(bytes, ChecksumOffset(image)));
    std::uint64_t end = 0;
    for (const PeSection& s : image.sections)
        end = std::max<std::uint64_t>(end, s.virtualAddress + static_cast<std::uint64_t>(s.virtualSize ? s.virtualSize : s.rawSize));
    EXPECT_EQ(image.sizeOfImage, AlignUp(end, image.sectionAlignment));
    std::uint32_t init = 0;
    for (const PeSection& s : image.sections)
        if (s.characteristics & 0x40) init += s.rawSize;
    EXPECT_EQ(GetU32(bytes, image.optionalOffset + 8), init);
    const PeDataDir& d = image.dirs[kDirResource];
    int i = SectionOfRva(image, d.address);
    ASSERT_GE(i, 0);
    EXPECT_EQ(image.sections[i].virtualAddress, d.address);
    EXPECT_LE(d.size, image.sections[i].rawSize);
}

TEST(PeWriter, AppendsAResourceSectionToAnImageWithoutOne) {
    for (bool plus : {true, false}) {
        std::vector<std::uint8_t> input = MakeImage(PlainLayout(plus ? 0x8664 : 0x14c, plus));
        Written w = Write(input, MixedResources());
        EXPECT_EQ(w.placement, RsrcPlacement::kAppended);
        ExpectSameResources(MixedResources(), ReadBack(w.bytes));
        ExpectConsistentHeaders(w.bytes);
        PeImage image = Parsed(w.bytes);
        ASSERT_EQ(image.sections.size(), 4u);
        EXPECT_EQ(image.sections[3].name, ".rsrc");
        EXPECT_EQ(image.sections[3].virtualAddress, 0x4000u);
        EXPECT_EQ(image.sections[3].rawOffset, input.size());
        EXPECT_EQ(image.sections[3].characteristics, 0x40000040u);
        // The sections that were there keep their bytes.
        EXPECT_TRUE(std::equal(input.begin() + 0x400, input.end(), w.bytes.begin() + 0x400));
        EXPECT_TRUE(w.warnings.empty());
    }
}

TEST(PeWriter, RewritesALastResourceSectionAndMovesWhatTrailsIt) {
    TestImageLayout layout = PlainLayout();
    layout.sections.push_back({".rsrc", BuildResourceSection(MixedResources(), testsupport::SectionRva(layout, 3)), 0, 0x40000040});
    layout.resourceSection = 3;
    layout.overlay = std::vector<std::uint8_t>(300, 0x5A);  // e.g. a symbol table
    std::vector<std::uint8_t> input = MakeImage(layout);
    PeImage before = Parsed(input);
    std::uint32_t symbols = static_cast<std::uint32_t>(before.sections[3].rawOffset + before.sections[3].rawSize);
    PutU32(&input, testsupport::kPeOffset + 12, symbols);

    ResourceList more = MixedResources();
    PutResource(&more, ResNameUpper("KELFILE"), ResNameUpper("KEL-APPLICATION.KEL"), std::vector<std::uint8_t>(5000, 0xEE));
    Written w = Write(input, more);
    EXPECT_EQ(w.placement, RsrcPlacement::kReplacedLast);
    ExpectSameResources(more, ReadBack(w.bytes));
    ExpectConsistentHeaders(w.bytes);
    PeImage after = Parsed(w.bytes);
    ASSERT_EQ(after.sections.size(), 4u);
    EXPECT_EQ(after.sections[3].rawOffset, before.sections[3].rawOffset);
    std::uint32_t newEnd = after.sections[3].rawOffset + after.sections[3].rawSize;
    EXPECT_EQ(after.symbolTableOffset, newEnd);
    ASSERT_EQ(w.bytes.size(), newEnd + 300u);
    EXPECT_EQ(w.bytes[newEnd], 0x5A);
    EXPECT_EQ(w.bytes.back(), 0x5A);
}

TEST(PeWriter, ReusesAnInnerResourceSectionWhenTheTreeFits) {
    TestImageLayout layout = PlainLayout();
    // .rsrc between .data and .reloc, as linkers lay it out, with room to spare.
    std::vector<std::uint8_t> tree = BuildResourceSection(MixedResources(), testsupport::SectionRva(layout, 2));
    tree.resize(0x1000, 0);
    layout.sections.insert(layout.sections.begin() + 2, {".rsrc", tree, 0, 0x40000040});
    layout.resourceSection = 2;
    std::vector<std::uint8_t> input = MakeImage(layout);

    ResourceList fewer = MixedResources();
    fewer.resize(3);
    Written small = Write(input, fewer);
    EXPECT_EQ(small.placement, RsrcPlacement::kReusedInPlace);
    EXPECT_EQ(small.bytes.size(), input.size());
    ExpectSameResources(fewer, ReadBack(small.bytes));
    ExpectConsistentHeaders(small.bytes);
    EXPECT_EQ(Parsed(small.bytes).sections.size(), 4u);

    // Too big for the old place: a new last section, the old one left as it was.
    ResourceList big = MixedResources();
    PutResource(&big, ResNameUpper("KELFILE"), ResNameUpper("KEL-APPLICATION.KEL"), std::vector<std::uint8_t>(0x3000, 1));
    Written grown = Write(input, big);
    EXPECT_EQ(grown.placement, RsrcPlacement::kAppended);
    ExpectSameResources(big, ReadBack(grown.bytes));
    ExpectConsistentHeaders(grown.bytes);
    PeImage after = Parsed(grown.bytes);
    ASSERT_EQ(after.sections.size(), 5u);
    EXPECT_EQ(after.sections[4].virtualAddress, 0x5000u);
    EXPECT_EQ(after.dirs[kDirResource].address, 0x5000u);
}

TEST(PeWriter, DirectoryOrderIsNamesUpperCasedThenIdsAscending) {
    ResourceList list;
    for (const char* n : {"zeta", "Alpha", "mid"}) PutResource(&list, ResNameUpper("T"), ResNameUpper(n), {1});
    for (std::uint32_t id : {30u, 2u, 17u}) PutResource(&list, ResNameUpper("T"), IntResId(id), {2});
    ResId lower;
    lower.isName = true;
    lower.name = u"beta";  // stored as it is; sorted as BETA
    PutResource(&list, ResNameUpper("T"), lower, {3});
    std::vector<std::uint8_t> b = BuildResourceSection(list, 0x1000);
    // Root: one named type. Its directory follows at 16 + 8.
    EXPECT_EQ(GetU16(b, 12), 1);
    EXPECT_EQ(GetU16(b, 14), 0);
    std::uint32_t typeDir = GetU32(b, 20) & 0x7FFFFFFF;
    EXPECT_EQ(GetU16(b, typeDir + 12), 4);
    EXPECT_EQ(GetU16(b, typeDir + 14), 3);
    std::vector<std::u16string> names;
    std::vector<std::uint32_t> ids;
    for (int i = 0; i < 7; ++i) {
        std::uint32_t key = GetU32(b, typeDir + 16 + 8 * i);
        if (key & 0x80000000u) {
            std::uint32_t at = key & 0x7FFFFFFF;
            std::u16string s;
            for (std::uint32_t k = 0; k < GetU16(b, at); ++k) s += static_cast<char16_t>(GetU16(b, at + 2 + 2 * k));
            names.push_back(s);
        } else {
            ids.push_back(key);
        }
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"ALPHA", u"beta", u"MID", u"ZETA"}));
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{2, 17, 30}));
}

TEST(PeWriter, DataLiesOnEightByteBoundariesInsideTheSection) {
    std::vector<std::uint8_t> input = MakeImage(PlainLayout());
    Written w = Write(input, MixedResources());
    PeImage image = Parsed(w.bytes);
    const PeSection& s = image.sections[3];
    std::vector<std::uint8_t> tree(w.bytes.begin() + s.rawOffset, w.bytes.begin() + s.rawOffset + s.virtualSize);
    // Data entries are the 16-byte records whose RVA points into the section.
    int found = 0;
    for (std::size_t off = 0; off + 16 <= tree.size(); off += 8) {
        std::uint32_t rva = GetU32(tree, off), size = GetU32(tree, off + 4);
        if (rva >= s.virtualAddress && rva < s.virtualAddress + s.virtualSize && size < 100 && GetU32(tree, off + 12) == 0 &&
            off < 0x200) {
            EXPECT_EQ(rva % 8, 0u);
            EXPECT_LE(rva - s.virtualAddress + size, s.virtualSize);
            ++found;
        }
    }
    EXPECT_GE(found, static_cast<int>(MixedResources().size()));
}

TEST(PeWriter, SameInputGivesTheSameBytes) {
    std::vector<std::uint8_t> input = MakeImage(PlainLayout());
    ResourceList shuffled = MixedResources();
    std::reverse(shuffled.begin(), shuffled.end());
    EXPECT_EQ(Write(input, MixedResources()).bytes, Write(input, shuffled).bytes);
}

TEST(PeWriter, DropsASignatureWithAWarning) {
    TestImageLayout layout = PlainLayout();
    layout.certificate = std::vector<std::uint8_t>(64, 0xCE);
    std::vector<std::uint8_t> input = MakeImage(layout);
    ASSERT_NE(Parsed(input).dirs[kDirSecurity].size, 0u);
    Written w = Write(input, MixedResources());
    ASSERT_EQ(w.warnings.size(), 1u);
    EXPECT_NE(w.warnings[0].find("signature"), std::string::npos);
    PeImage image = Parsed(w.bytes);
    EXPECT_EQ(image.dirs[kDirSecurity].address, 0u);
    EXPECT_EQ(image.dirs[kDirSecurity].size, 0u);
    EXPECT_EQ(std::count(w.bytes.begin(), w.bytes.end(), 0xCE), 0);
    ExpectSameResources(MixedResources(), ReadBack(w.bytes));
}

// Headers that claim every byte of the file (SizeOfHeaders reaching over the
// section data, as in an image the fuzzer made) still hold every byte after
// a write that shrinks the sections or drops a trailing signature.
TEST(PeWriter, TheFileKeepsEveryByteItsHeadersClaim) {
    ResourceList one;
    PutResource(&one, IntResId(kRtGroupIcon), IntResId(50), std::vector<std::uint8_t>(48, 7));
    ResourceList big = MixedResources();
    PutResource(&big, ResNameUpper("KELFILE"), ResNameUpper("KEL-APPLICATION.KEL"), std::vector<std::uint8_t>(0x900, 1));
    struct Case {
        const char* what;
        bool rsrcLast;  // an empty tree in a last .rsrc of 0x400 file bytes
        bool isSigned;
        ResourceList list;
        RsrcPlacement want;
    };
    std::vector<Case> cases = {
        {"last .rsrc rewritten smaller", true, false, one, RsrcPlacement::kReplacedLast},
        {"last .rsrc rewritten larger", true, false, big, RsrcPlacement::kReplacedLast},
        {"last .rsrc emptied", true, false, {}, RsrcPlacement::kNone},
        {"signature dropped, last .rsrc smaller", true, true, one, RsrcPlacement::kReplacedLast},
        {"signature dropped, nothing added", false, true, {}, RsrcPlacement::kNone},
        {"signature dropped, .rsrc appended", false, true, one, RsrcPlacement::kAppended},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestImageLayout layout = PlainLayout();
        layout.sectionAlignment = 0x2000;  // the sections' RVAs stay above the claimed headers
        if (c.rsrcLast) {
            std::vector<std::uint8_t> tree = BuildResourceSection({}, testsupport::SectionRva(layout, 3));
            tree.resize(0x400, 0);
            layout.sections.push_back({".rsrc", tree, 0x218, 0x40000040});
            layout.resourceSection = 3;
        }
        if (c.isSigned) layout.certificate = std::vector<std::uint8_t>(64, 0xCE);
        std::vector<std::uint8_t> input = MakeImage(layout);
        PutU32(&input, testsupport::kOptOffset + 60, static_cast<std::uint32_t>(input.size()));
        Written w = Write(input, c.list);
        EXPECT_EQ(w.placement, c.want);
        EXPECT_GE(w.bytes.size(), input.size());
        PeImage image;
        std::string error;
        if (!ParsePe(w.bytes, &image, &error)) {
            ADD_FAILURE() << error;
            continue;
        }
        EXPECT_EQ(image.sizeOfHeaders, input.size());
        ExpectSameResources(c.list, ReadBack(w.bytes));
        if (!c.list.empty()) ExpectConsistentHeaders(w.bytes);
    }
}

TEST(PeWriter, AWrittenImageIsCheckedAgainstWhatWasWritten) {
    const std::vector<std::uint8_t> good = Write(MakeImage(PlainLayout()), MixedResources()).bytes;
    using Edit = std::function<void(std::vector<std::uint8_t>*, ResourceList*)>;
    struct Case {
        const char* what;
        Edit edit;
        const char* says;  // nullptr: accepted
    };
    std::vector<Case> cases = {
        {"as written", [](auto*, auto*) {}, nullptr},
        {"names written in another case", [](auto*, ResourceList* l) {
             for (Resource& r : *l)
                 for (char16_t& c : r.name.name) c = (c >= u'A' && c <= u'Z') ? c + 32 : c;
         }, nullptr},
        {"file cut short", [](std::vector<std::uint8_t>* b, auto*) { b->resize(b->size() - 0x100); }, "truncated"},
        {"one leaf more written", [](auto*, ResourceList* l) { PutResource(l, IntResId(9), IntResId(9), {9}); },
         "8 resources read back where 9 were written"},
        {"other data", [](auto*, ResourceList* l) { (*l)[1].data.push_back(0); }, "TEXT/CONFIG language 0 reads back otherwise"},
        {"other language", [](auto*, ResourceList* l) { (*l)[1].lang = 7; }, "reads back otherwise"},
        {"other code page", [](auto*, ResourceList* l) { (*l)[1].codepage = 1252; }, "reads back otherwise"},
        {"checksum off by one", [](std::vector<std::uint8_t>* b, auto*) {
             std::uint32_t at = ChecksumOffset(Parsed(*b));
             PutU32(b, at, GetU32(*b, at) + 1);
         }, "checksum"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> bytes = good;
        ResourceList list = MixedResources();
        c.edit(&bytes, &list);
        std::string error;
        EXPECT_EQ(CheckWrittenImage(bytes, list, &error), c.says == nullptr);
        if (c.says) {
            EXPECT_NE(error.find(c.says), std::string::npos) << error;
        }
    }
}

// Resources near the top of the address space: written only when the image
// still ends, page-aligned, inside 4 GiB.
TEST(PeWriter, TheImageStaysInsideTheAddressSpace) {
    struct Case {
        const char* what;
        bool rsrcLast;       // a last .rsrc at `top`, else .reloc is there and .rsrc is appended
        std::uint32_t top;   // RVA of the last section
        std::size_t data;    // bytes of the one resource written
        bool fits;
    };
    std::vector<Case> cases = {
        {"last .rsrc rewritten, fits", true, 0xFFFE0000, 0x100, true},
        {"last .rsrc rewritten past 4 GiB", true, 0xFFFE0000, 0x30000, false},
        {"last .rsrc rewritten into the last page", true, 0xFFFE0000, 0x1F800, false},
        {".rsrc appended, fits", false, 0xFFFE0000, 0x100, true},
        {".rsrc appended into the last page", false, 0xFFFE0000, 0x1E800, false},
        {".rsrc appended after a section in the last page", false, 0xFFFFF000, 0x100, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestImageLayout layout = PlainLayout();
        int moved = 2;
        if (c.rsrcLast) {
            layout.sections.push_back({".rsrc", BuildResourceSection({}, c.top), 0, 0x40000040});
            layout.resourceSection = moved = 3;
        }
        std::vector<std::uint8_t> input = MakeImage(layout);
        PutU32(&input, testsupport::TableOffset(true) + 40 * moved + 12, c.top);
        if (c.rsrcLast) PutU32(&input, testsupport::DirOffset(true) + 16, c.top);
        ResourceList list;
        PutResource(&list, IntResId(10), IntResId(1), std::vector<std::uint8_t>(c.data, 1));
        std::vector<std::uint8_t> out;
        RsrcPlacement placement;
        std::vector<std::string> warnings;
        std::string error;
        bool written = LayOutResources(Parsed(input), list, &out, &placement, &warnings, &error);
        EXPECT_EQ(written, c.fits) << error;
        if (!c.fits) {
            EXPECT_NE(error.find("4 GiB"), std::string::npos) << error;
            continue;
        }
        ExpectSameResources(list, ReadBack(out));
        ExpectConsistentHeaders(out);
    }
}

TEST(PeWriter, RefusesWhenTheHeadersHaveNoRoomForASection) {
    TestImageLayout layout = PlainLayout();
    std::vector<std::uint8_t> input = MakeImage(layout);
    // Something (a bound import table, say) sits right after the section table.
    input[testsupport::TableOffset(true) + 3 * 40 + 4] = 0x99;
    PeImage image = Parsed(input);
    std::vector<std::uint8_t> out;
    RsrcPlacement placement;
    std::vector<std::string> warnings;
    std::string error;
    EXPECT_FALSE(LayOutResources(image, MixedResources(), &out, &placement, &warnings, &error));
    EXPECT_NE(error.find("no free room"), std::string::npos) << error;
}

TEST(PeWriter, AnEmptyListClearsTheDirectory) {
    std::vector<std::uint8_t> with = Write(MakeImage(PlainLayout()), MixedResources()).bytes;
    Written w = Write(with, {});
    EXPECT_EQ(w.placement, RsrcPlacement::kNone);
    EXPECT_EQ(Parsed(w.bytes).dirs[kDirResource].address, 0u);
    EXPECT_TRUE(ReadBack(w.bytes).empty());
}

}  // namespace
}  // namespace kelpack
