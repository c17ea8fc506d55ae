#include "pe_write.h"

#include <gtest/gtest.h>

#include <functional>

#include "test_image.h"

namespace kelpack {
namespace {

using testing::make_image;
using testing::parsed;
using testing::plain_layout;
using testing::TestImageLayout;


ResourceList read_back(const std::vector<std::uint8_t>& bytes) {
    PeImage image = parsed(bytes);
    ResourceList list;
    std::string error;
    EXPECT_TRUE(read_resources(image, &list, &error)) << error;
    return list;
}

// A mixed tree: string and integer types and names, two languages, a
// lower-case name, a name beyond ASCII, empty data.
ResourceList mixed_resources() {
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
    lower.is_name = true;
    lower.name = u"lower\u00e9";
    add(res_id(16), res_id(1), 0x409, std::vector<std::uint8_t>(92, 0x16));
    add(res_name_upper("Text"), res_name_upper("CONFIG"), 0, {'S', '=', '1'});
    add(res_name_upper("Text"), res_name_upper("CommandLine"), 0x409, {'a'});
    add(res_name_upper("Text"), res_name_upper("CommandLine"), 0, {'b', 'c'});
    add(res_id(3), res_id(2), 0, std::vector<std::uint8_t>(33, 3));
    add(res_id(3), res_id(1), 0, {});
    add(res_name_upper("SplashScreen"), lower, 0, std::vector<std::uint8_t>(5, 9));
    add(res_name_upper("ABC"), res_id(7), 0, {1, 2, 3});
    return list;
}

void expect_same_resources(ResourceList want, const ResourceList& got) {
    sort_resources(&want);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_TRUE(res_id_matches(got[i].type, want[i].type)) << i;
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

Written write(const std::vector<std::uint8_t>& input, const ResourceList& list) {
    Written w;
    PeImage image = parsed(input);
    std::string error;
    EXPECT_TRUE(write_resources(image, list, &w.bytes, &w.placement, &w.warnings, &error)) << error;
    return w;
}

// Fields every written image must get right, whatever the placement.
void expect_consistent_headers(const std::vector<std::uint8_t>& bytes) {
    PeImage image = parsed(bytes);
    EXPECT_EQ(image.checksum, pe_checksum(bytes, checksum_offset(image)));
    std::uint64_t end = 0;
    for (const PeSection& s : image.sections)
        end = std::max<std::uint64_t>(end, s.virtual_address + static_cast<std::uint64_t>(s.virtual_size ? s.virtual_size : s.raw_size));
    EXPECT_EQ(image.size_of_image, align_up(end, image.section_alignment));
    std::uint32_t init = 0;
    for (const PeSection& s : image.sections)
        if (s.characteristics & 0x40) init += s.raw_size;
    EXPECT_EQ(get_u32(bytes, image.optional_offset + 8), init);
    const PeDataDir& d = image.dirs[kDirResource];
    int i = section_of_rva(image, d.address);
    ASSERT_GE(i, 0);
    EXPECT_EQ(image.sections[i].virtual_address, d.address);
    EXPECT_LE(d.size, image.sections[i].raw_size);
}

TEST(PeWriter, AppendsAResourceSectionToAnImageWithoutOne) {
    for (bool plus : {true, false}) {
        std::vector<std::uint8_t> input = make_image(plain_layout(plus ? 0x8664 : 0x14c, plus));
        Written w = write(input, mixed_resources());
        EXPECT_EQ(w.placement, RsrcPlacement::kAppended);
        expect_same_resources(mixed_resources(), read_back(w.bytes));
        expect_consistent_headers(w.bytes);
        PeImage image = parsed(w.bytes);
        ASSERT_EQ(image.sections.size(), 4u);
        EXPECT_EQ(image.sections[3].name, ".rsrc");
        EXPECT_EQ(image.sections[3].virtual_address, 0x4000u);
        EXPECT_EQ(image.sections[3].raw_offset, input.size());
        EXPECT_EQ(image.sections[3].characteristics, 0x40000040u);
        // The sections that were there keep their bytes.
        EXPECT_TRUE(std::equal(input.begin() + 0x400, input.end(), w.bytes.begin() + 0x400));
        EXPECT_TRUE(w.warnings.empty());
    }
}

TEST(PeWriter, RewritesALastResourceSectionAndMovesWhatTrailsIt) {
    TestImageLayout layout = plain_layout();
    layout.sections.push_back({".rsrc", build_resource_section(mixed_resources(), testing::section_rva(layout, 3)), 0, 0x40000040});
    layout.resource_section = 3;
    layout.overlay = std::vector<std::uint8_t>(300, 0x5A);  // e.g. a symbol table
    std::vector<std::uint8_t> input = make_image(layout);
    PeImage before = parsed(input);
    std::uint32_t symbols = static_cast<std::uint32_t>(before.sections[3].raw_offset + before.sections[3].raw_size);
    put_u32(&input, testing::kPeOffset + 12, symbols);

    ResourceList more = mixed_resources();
    put_resource(&more, res_name_upper("KELFILE"), res_name_upper("KEL-APPLICATION.KEL"), std::vector<std::uint8_t>(5000, 0xEE));
    Written w = write(input, more);
    EXPECT_EQ(w.placement, RsrcPlacement::kReplacedLast);
    expect_same_resources(more, read_back(w.bytes));
    expect_consistent_headers(w.bytes);
    PeImage after = parsed(w.bytes);
    ASSERT_EQ(after.sections.size(), 4u);
    EXPECT_EQ(after.sections[3].raw_offset, before.sections[3].raw_offset);
    std::uint32_t new_end = after.sections[3].raw_offset + after.sections[3].raw_size;
    EXPECT_EQ(after.symbol_table_offset, new_end);
    ASSERT_EQ(w.bytes.size(), new_end + 300u);
    EXPECT_EQ(w.bytes[new_end], 0x5A);
    EXPECT_EQ(w.bytes.back(), 0x5A);
}

TEST(PeWriter, ReusesAnInnerResourceSectionWhenTheTreeFits) {
    TestImageLayout layout = plain_layout();
    // .rsrc between .data and .reloc, as linkers lay it out, with room to spare.
    std::vector<std::uint8_t> tree = build_resource_section(mixed_resources(), testing::section_rva(layout, 2));
    tree.resize(0x1000, 0);
    layout.sections.insert(layout.sections.begin() + 2, {".rsrc", tree, 0, 0x40000040});
    layout.resource_section = 2;
    std::vector<std::uint8_t> input = make_image(layout);

    ResourceList fewer = mixed_resources();
    fewer.resize(3);
    Written small = write(input, fewer);
    EXPECT_EQ(small.placement, RsrcPlacement::kReusedInPlace);
    EXPECT_EQ(small.bytes.size(), input.size());
    expect_same_resources(fewer, read_back(small.bytes));
    expect_consistent_headers(small.bytes);
    EXPECT_EQ(parsed(small.bytes).sections.size(), 4u);

    // Too big for the old place: a new last section, the old one left as it was.
    ResourceList big = mixed_resources();
    put_resource(&big, res_name_upper("KELFILE"), res_name_upper("KEL-APPLICATION.KEL"), std::vector<std::uint8_t>(0x3000, 1));
    Written grown = write(input, big);
    EXPECT_EQ(grown.placement, RsrcPlacement::kAppended);
    expect_same_resources(big, read_back(grown.bytes));
    expect_consistent_headers(grown.bytes);
    PeImage after = parsed(grown.bytes);
    ASSERT_EQ(after.sections.size(), 5u);
    EXPECT_EQ(after.sections[4].virtual_address, 0x5000u);
    EXPECT_EQ(after.dirs[kDirResource].address, 0x5000u);
}

TEST(PeWriter, DirectoryOrderIsNamesUpperCasedThenIdsAscending) {
    ResourceList list;
    for (const char* n : {"zeta", "Alpha", "mid"}) put_resource(&list, res_name_upper("T"), res_name_upper(n), {1});
    for (std::uint32_t id : {30u, 2u, 17u}) put_resource(&list, res_name_upper("T"), res_id(id), {2});
    ResId lower;
    lower.is_name = true;
    lower.name = u"beta";  // stored as it is; sorted as BETA
    put_resource(&list, res_name_upper("T"), lower, {3});
    std::vector<std::uint8_t> b = build_resource_section(list, 0x1000);
    // Root: one named type. Its directory follows at 16 + 8.
    EXPECT_EQ(get_u16(b, 12), 1);
    EXPECT_EQ(get_u16(b, 14), 0);
    std::uint32_t type_dir = get_u32(b, 20) & 0x7FFFFFFF;
    EXPECT_EQ(get_u16(b, type_dir + 12), 4);
    EXPECT_EQ(get_u16(b, type_dir + 14), 3);
    std::vector<std::u16string> names;
    std::vector<std::uint32_t> ids;
    for (int i = 0; i < 7; ++i) {
        std::uint32_t key = get_u32(b, type_dir + 16 + 8 * i);
        if (key & 0x80000000u) {
            std::uint32_t at = key & 0x7FFFFFFF;
            std::u16string s;
            for (std::uint32_t k = 0; k < get_u16(b, at); ++k) s += static_cast<char16_t>(get_u16(b, at + 2 + 2 * k));
            names.push_back(s);
        } else {
            ids.push_back(key);
        }
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"ALPHA", u"beta", u"MID", u"ZETA"}));
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{2, 17, 30}));
}

TEST(PeWriter, DataLiesOnEightByteBoundariesInsideTheSection) {
    std::vector<std::uint8_t> input = make_image(plain_layout());
    Written w = write(input, mixed_resources());
    PeImage image = parsed(w.bytes);
    const PeSection& s = image.sections[3];
    std::vector<std::uint8_t> tree(w.bytes.begin() + s.raw_offset, w.bytes.begin() + s.raw_offset + s.virtual_size);
    // Data entries are the 16-byte records whose RVA points into the section.
    int found = 0;
    for (std::size_t off = 0; off + 16 <= tree.size(); off += 8) {
        std::uint32_t rva = get_u32(tree, off), size = get_u32(tree, off + 4);
        if (rva >= s.virtual_address && rva < s.virtual_address + s.virtual_size && size < 100 && get_u32(tree, off + 12) == 0 &&
            off < 0x200) {
            EXPECT_EQ(rva % 8, 0u);
            EXPECT_LE(rva - s.virtual_address + size, s.virtual_size);
            ++found;
        }
    }
    EXPECT_GE(found, static_cast<int>(mixed_resources().size()));
}

TEST(PeWriter, SameInputGivesTheSameBytes) {
    std::vector<std::uint8_t> input = make_image(plain_layout());
    ResourceList shuffled = mixed_resources();
    std::reverse(shuffled.begin(), shuffled.end());
    EXPECT_EQ(write(input, mixed_resources()).bytes, write(input, shuffled).bytes);
}

TEST(PeWriter, DropsASignatureWithAWarning) {
    TestImageLayout layout = plain_layout();
    layout.certificate = std::vector<std::uint8_t>(64, 0xCE);
    std::vector<std::uint8_t> input = make_image(layout);
    ASSERT_NE(parsed(input).dirs[kDirSecurity].size, 0u);
    Written w = write(input, mixed_resources());
    ASSERT_EQ(w.warnings.size(), 1u);
    EXPECT_NE(w.warnings[0].find("signature"), std::string::npos);
    PeImage image = parsed(w.bytes);
    EXPECT_EQ(image.dirs[kDirSecurity].address, 0u);
    EXPECT_EQ(image.dirs[kDirSecurity].size, 0u);
    EXPECT_EQ(std::count(w.bytes.begin(), w.bytes.end(), 0xCE), 0);
    expect_same_resources(mixed_resources(), read_back(w.bytes));
}

// Headers that claim every byte of the file (SizeOfHeaders reaching over the
// section data, as in an image the fuzzer made) still hold every byte after
// a write that shrinks the sections or drops a trailing signature.
TEST(PeWriter, TheFileKeepsEveryByteItsHeadersClaim) {
    ResourceList one;
    put_resource(&one, res_id(kRtGroupIcon), res_id(50), std::vector<std::uint8_t>(48, 7));
    ResourceList big = mixed_resources();
    put_resource(&big, res_name_upper("KELFILE"), res_name_upper("KEL-APPLICATION.KEL"), std::vector<std::uint8_t>(0x900, 1));
    struct Case {
        const char* what;
        bool rsrc_last;  // an empty tree in a last .rsrc of 0x400 file bytes
        bool signed_;
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
        TestImageLayout layout = plain_layout();
        layout.section_alignment = 0x2000;  // the sections' RVAs stay above the claimed headers
        if (c.rsrc_last) {
            std::vector<std::uint8_t> tree = build_resource_section({}, testing::section_rva(layout, 3));
            tree.resize(0x400, 0);
            layout.sections.push_back({".rsrc", tree, 0x218, 0x40000040});
            layout.resource_section = 3;
        }
        if (c.signed_) layout.certificate = std::vector<std::uint8_t>(64, 0xCE);
        std::vector<std::uint8_t> input = make_image(layout);
        put_u32(&input, testing::kOptOffset + 60, static_cast<std::uint32_t>(input.size()));
        Written w = write(input, c.list);
        EXPECT_EQ(w.placement, c.want);
        EXPECT_GE(w.bytes.size(), input.size());
        PeImage image;
        std::string error;
        if (!parse_pe(w.bytes, &image, &error)) {
            ADD_FAILURE() << error;
            continue;
        }
        EXPECT_EQ(image.size_of_headers, input.size());
        expect_same_resources(c.list, read_back(w.bytes));
        if (!c.list.empty()) expect_consistent_headers(w.bytes);
    }
}

TEST(PeWriter, AWrittenImageIsCheckedAgainstWhatWasWritten) {
    const std::vector<std::uint8_t> good = write(make_image(plain_layout()), mixed_resources()).bytes;
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
        {"one leaf more written", [](auto*, ResourceList* l) { put_resource(l, res_id(9), res_id(9), {9}); },
         "8 resources read back where 9 were written"},
        {"other data", [](auto*, ResourceList* l) { (*l)[1].data.push_back(0); }, "TEXT/CONFIG language 0 reads back otherwise"},
        {"other language", [](auto*, ResourceList* l) { (*l)[1].lang = 7; }, "reads back otherwise"},
        {"other code page", [](auto*, ResourceList* l) { (*l)[1].codepage = 1252; }, "reads back otherwise"},
        {"checksum off by one", [](std::vector<std::uint8_t>* b, auto*) {
             std::uint32_t at = checksum_offset(parsed(*b));
             put_u32(b, at, get_u32(*b, at) + 1);
         }, "checksum"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> bytes = good;
        ResourceList list = mixed_resources();
        c.edit(&bytes, &list);
        std::string error;
        EXPECT_EQ(check_written_image(bytes, list, &error), c.says == nullptr);
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
        bool rsrc_last;      // a last .rsrc at `top`, else .reloc is there and .rsrc is appended
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
        TestImageLayout layout = plain_layout();
        int moved = 2;
        if (c.rsrc_last) {
            layout.sections.push_back({".rsrc", build_resource_section({}, c.top), 0, 0x40000040});
            layout.resource_section = moved = 3;
        }
        std::vector<std::uint8_t> input = make_image(layout);
        put_u32(&input, testing::table_offset(true) + 40 * moved + 12, c.top);
        if (c.rsrc_last) put_u32(&input, testing::dir_offset(true) + 16, c.top);
        ResourceList list;
        put_resource(&list, res_id(10), res_id(1), std::vector<std::uint8_t>(c.data, 1));
        std::vector<std::uint8_t> out;
        RsrcPlacement placement;
        std::vector<std::string> warnings;
        std::string error;
        bool written = write_resources(parsed(input), list, &out, &placement, &warnings, &error);
        EXPECT_EQ(written, c.fits) << error;
        if (!c.fits) {
            EXPECT_NE(error.find("4 GiB"), std::string::npos) << error;
            continue;
        }
        expect_same_resources(list, read_back(out));
        expect_consistent_headers(out);
    }
}

TEST(PeWriter, RefusesWhenTheHeadersHaveNoRoomForASection) {
    TestImageLayout layout = plain_layout();
    std::vector<std::uint8_t> input = make_image(layout);
    // Something (a bound import table, say) sits right after the section table.
    input[testing::table_offset(true) + 3 * 40 + 4] = 0x99;
    PeImage image = parsed(input);
    std::vector<std::uint8_t> out;
    RsrcPlacement placement;
    std::vector<std::string> warnings;
    std::string error;
    EXPECT_FALSE(write_resources(image, mixed_resources(), &out, &placement, &warnings, &error));
    EXPECT_NE(error.find("no free room"), std::string::npos) << error;
}

TEST(PeWriter, AnEmptyListClearsTheDirectory) {
    std::vector<std::uint8_t> with = write(make_image(plain_layout()), mixed_resources()).bytes;
    Written w = write(with, {});
    EXPECT_EQ(w.placement, RsrcPlacement::kNone);
    EXPECT_EQ(parsed(w.bytes).dirs[kDirResource].address, 0u);
    EXPECT_TRUE(read_back(w.bytes).empty());
}

}  // namespace
}  // namespace kelpack
