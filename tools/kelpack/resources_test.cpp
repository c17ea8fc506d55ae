#include "resources.h"

#include <gtest/gtest.h>

namespace kelpack {
namespace {

ResId named(const std::u16string& s) {
    ResId r;
    r.is_name = true;
    r.name = s;
    return r;
}

TEST(ResourceIds, NamesAreUpperCasedAndMatchWithoutCase) {
    EXPECT_EQ(res_name_upper("SplashScreen").name, u"SPLASHSCREEN");
    EXPECT_EQ(res_name_upper("Splash300.bmp").name, u"SPLASH300.BMP");
    EXPECT_EQ(res_name_upper("caf\xc3\xa9").name, u"CAF\u00e9");  // only ASCII letters change
    EXPECT_TRUE(res_id_matches(named(u"Config"), res_name_upper("CONFIG")));
    EXPECT_FALSE(res_id_matches(named(u"CONFIG"), named(u"CONFIGS")));
    EXPECT_FALSE(res_id_matches(named(u"50"), res_id(50)));
    EXPECT_TRUE(res_id_matches(res_id(50), res_id(50)));
}

TEST(ResourceIds, DirectoryOrderPutsNamesFirst) {
    EXPECT_LT(res_id_compare(named(u"ZZZ"), res_id(1)), 0);
    EXPECT_LT(res_id_compare(res_id(2), res_id(10)), 0);
    EXPECT_LT(res_id_compare(named(u"abc"), named(u"ABD")), 0);
    EXPECT_LT(res_id_compare(named(u"AB"), named(u"ABC")), 0);
    // '_' (0x5F) sorts after 'Z' but before 'a' as stored; upper-cased, 'a' is 'A'.
    EXPECT_LT(res_id_compare(named(u"a"), named(u"_")), 0);
    EXPECT_EQ(res_id_text(res_id(14), true), "#14 (GROUP_ICON)");
    EXPECT_EQ(res_id_text(res_id(14), false), "#14");
}

TEST(ResourceList, PutReplacesEveryLanguageAndKeepsTheFirstOnesLanguage) {
    ResourceList list;
    Resource a;
    a.type = res_name_upper("TEXT");
    a.name = res_name_upper("COMMANDLINE");
    a.lang = 1033;
    a.data = {'o', 'l', 'd'};
    list.push_back(a);
    a.lang = 1031;
    list.push_back(a);
    Resource other = a;
    other.name = res_name_upper("CONFIG");
    list.push_back(other);
    put_resource(&list, res_name_upper("Text"), named(u"commandline"), {'n', 'e', 'w'});
    ASSERT_EQ(list.size(), 2u);
    const Resource* r = find_resource(list, res_name_upper("TEXT"), res_name_upper("COMMANDLINE"));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->lang, 1033u);
    EXPECT_EQ(r->data, (std::vector<std::uint8_t>{'n', 'e', 'w'}));
    EXPECT_NE(find_resource(list, res_name_upper("TEXT"), res_name_upper("CONFIG")), nullptr);
    put_resource(&list, res_name_upper("KELFILE"), res_name_upper("X"), {});
    EXPECT_EQ(find_resource(list, res_name_upper("KELFILE"), res_name_upper("X"))->lang, 0u);
    EXPECT_EQ(remove_resources(&list, res_name_upper("TEXT"), res_name_upper("CONFIG")), 1);
    EXPECT_EQ(list.size(), 2u);
}

TEST(ResourceText, Utf8AndUtf16RoundTripAndBadUtf8IsRefused) {
    std::u16string w;
    ASSERT_TRUE(utf8_to_utf16("a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", &w));
    EXPECT_EQ(w, u"a\u00e9\u20ac\U0001F600");
    EXPECT_EQ(utf16_to_utf8(w), "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    EXPECT_EQ(utf16_to_utf8(std::u16string(1, static_cast<char16_t>(0xD800))), "\xef\xbf\xbd");
    for (const char* bad : {"\xc3", "\xe2\x82", "\xc0\x80", "\xed\xa0\x80", "\xff", "a\x80"}) EXPECT_FALSE(utf8_to_utf16(bad, &w)) << bad;
}

}  // namespace
}  // namespace kelpack
