#include "ico.h"

#include <gtest/gtest.h>

#include "byteio.h"

namespace kelpack {
namespace {

// An icon file of `n` images; image i is 16 << i pixels wide, with a
// 40-byte header and `i + 1` bytes of marker after it.
std::vector<std::uint8_t> IcoBytes(int n) {
    std::vector<std::uint8_t> b;
    AppendU16(&b, 0);
    AppendU16(&b, 1);
    AppendU16(&b, static_cast<std::uint32_t>(n));
    std::vector<std::vector<std::uint8_t>> images;
    for (int i = 0; i < n; ++i) {
        std::vector<std::uint8_t> dib(40, 0);
        PutU32(&dib, 0, 40);
        dib.insert(dib.end(), static_cast<std::size_t>(i + 1), static_cast<std::uint8_t>(0xA0 + i));
        images.push_back(dib);
    }
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(n);
    for (int i = 0; i < n; ++i) {
        b.push_back(static_cast<std::uint8_t>(16 << i));
        b.push_back(static_cast<std::uint8_t>(16 << i));
        b.push_back(0);
        b.push_back(0);
        AppendU16(&b, 1);
        AppendU16(&b, 32);
        AppendU32(&b, static_cast<std::uint32_t>(images[i].size()));
        AppendU32(&b, offset);
        offset += static_cast<std::uint32_t>(images[i].size());
    }
    for (const auto& img : images) b.insert(b.end(), img.begin(), img.end());
    return b;
}

std::vector<std::uint16_t> MemberIds(const Resource& group) {
    std::vector<std::uint16_t> ids;
    for (std::uint32_t i = 0; i < GetU16(group.data, 4); ++i) ids.push_back(GetU16(group.data, 6 + 14 * i + 12));
    return ids;
}

TEST(IconFile, ParsesEachImage) {
    std::vector<IconImage> images;
    std::string error;
    ASSERT_TRUE(ParseIco(IcoBytes(3), &images, &error)) << error;
    ASSERT_EQ(images.size(), 3u);
    EXPECT_EQ(images[1].width, 32);
    EXPECT_EQ(images[2].bitCount, 32);
    EXPECT_EQ(images[2].data.size(), 43u);
    EXPECT_EQ(images[2].data.back(), 0xA2);
}

TEST(IconFile, RejectsDamagedFiles) {
    std::vector<IconImage> images;
    std::string error;
    std::vector<std::uint8_t> b = IcoBytes(2);
    EXPECT_FALSE(ParseIco({'B', 'M', 0, 0, 0, 0}, &images, &error));
    EXPECT_NE(error.find("not an icon"), std::string::npos);
    std::vector<std::uint8_t> none = b;
    PutU16(&none, 4, 0);
    EXPECT_FALSE(ParseIco(none, &images, &error));
    EXPECT_NE(error.find("no images"), std::string::npos);
    EXPECT_FALSE(ParseIco(std::vector<std::uint8_t>(b.begin(), b.begin() + 30), &images, &error));
    EXPECT_NE(error.find("cut off"), std::string::npos);
    EXPECT_FALSE(ParseIco(std::vector<std::uint8_t>(b.begin(), b.end() - 1), &images, &error));
    EXPECT_NE(error.find("image 2 lies outside"), std::string::npos);
    std::vector<std::uint8_t> odd = b;
    PutU32(&odd, 6 + 32 + 0, 12);  // first image's header says 12 bytes
    EXPECT_FALSE(ParseIco(odd, &images, &error));
    EXPECT_NE(error.find("neither a bitmap"), std::string::npos);
    EXPECT_TRUE(images.empty());
}

TEST(IconGroup, ReplacesGroup50AndItsImagesButKeepsOtherGroups) {
    std::vector<IconImage> three, two;
    std::string error;
    ASSERT_TRUE(ParseIco(IcoBytes(3), &three, &error));
    ASSERT_TRUE(ParseIco(IcoBytes(2), &two, &error));
    ResourceList list;
    PutIconGroup(&list, 7, two);   // icons 1, 2
    PutIconGroup(&list, 50, three);  // icons 3, 4, 5
    const Resource* g50 = FindResource(list, IntResId(kRtGroupIcon), IntResId(50));
    ASSERT_NE(g50, nullptr);
    EXPECT_EQ(MemberIds(*g50), (std::vector<std::uint16_t>{3, 4, 5}));
    EXPECT_EQ(g50->data.size(), 6u + 3 * 14);
    EXPECT_EQ(GetU32(g50->data, 6 + 14 + 8), 42u);  // bytes of the second image

    PutIconGroup(&list, 50, two);  // 3, 4, 5 go; the lowest free ids are 3 and 4 again
    g50 = FindResource(list, IntResId(kRtGroupIcon), IntResId(50));
    EXPECT_EQ(MemberIds(*g50), (std::vector<std::uint16_t>{3, 4}));
    EXPECT_EQ(FindResource(list, IntResId(kRtIcon), IntResId(5)), nullptr);
    EXPECT_EQ(MemberIds(*FindResource(list, IntResId(kRtGroupIcon), IntResId(7))), (std::vector<std::uint16_t>{1, 2}));
    EXPECT_EQ(FindResource(list, IntResId(kRtIcon), IntResId(4))->data, two[1].data);
    EXPECT_EQ(list.size(), 2u + 2 + 2);
}

TEST(IconGroup, ImagesTakeTheLanguageOfTheGroupTheyReplace) {
    std::vector<IconImage> one;
    std::string error;
    ASSERT_TRUE(ParseIco(IcoBytes(1), &one, &error));
    ResourceList list;
    PutIconGroup(&list, 50, one);
    for (Resource& r : list) r.lang = 1033;
    PutIconGroup(&list, 50, one);
    for (const Resource& r : list) EXPECT_EQ(r.lang, 1033u) << ResIdText(r.type, true);
}

}  // namespace
}  // namespace kelpack
