#include "resources.h"

#include <gtest/gtest.h>

namespace kelpack {
namespace {

ResId Named(const std::u16string& s) {
    ResId r;
    r.isName = true;
    r.name = s;
    return r;
}

TEST(ResourceIds, NamesAreUpperCasedAndMatchWithoutCase) {
    EXPECT_EQ(ResNameUpper("SplashScreen").name, u"SPLASHSCREEN");
    EXPECT_EQ(ResNameUpper("Splash300.bmp").name, u"SPLASH300.BMP");
    EXPECT_EQ(ResNameUpper("caf\xc3\xa9").name, u"CAF\u00e9");  // only ASCII letters change
    EXPECT_EQ(ResNameUpper(u"SplashScreen").name, u"SPLASHSCREEN");
    EXPECT_EQ(ResNameUpper(u"caf\u00e9z").name, u"CAF\u00e9Z");
    EXPECT_TRUE(ResIdMatches(Named(u"Config"), ResNameUpper("CONFIG")));
    EXPECT_FALSE(ResIdMatches(Named(u"CONFIG"), Named(u"CONFIGS")));
    EXPECT_FALSE(ResIdMatches(Named(u"50"), IntResId(50)));
    EXPECT_TRUE(ResIdMatches(IntResId(50), IntResId(50)));
}

TEST(ResourceIds, DirectoryOrderPutsNamesFirst) {
    EXPECT_LT(ResIdCompare(Named(u"ZZZ"), IntResId(1)), 0);
    EXPECT_LT(ResIdCompare(IntResId(2), IntResId(10)), 0);
    EXPECT_LT(ResIdCompare(Named(u"abc"), Named(u"ABD")), 0);
    EXPECT_LT(ResIdCompare(Named(u"AB"), Named(u"ABC")), 0);
    // '_' (0x5F) sorts after 'Z' but before 'a' as stored; upper-cased, 'a' is 'A'.
    EXPECT_LT(ResIdCompare(Named(u"a"), Named(u"_")), 0);
    EXPECT_EQ(ResIdText(IntResId(14), true), "#14 (GROUP_ICON)");
    EXPECT_EQ(ResIdText(IntResId(14), false), "#14");
}

TEST(ResourceList, PutReplacesEveryLanguageAndKeepsTheFirstOnesLanguage) {
    ResourceList list;
    Resource a;
    a.type = ResNameUpper("TEXT");
    a.name = ResNameUpper("COMMANDLINE");
    a.lang = 1033;
    a.data = {'o', 'l', 'd'};
    list.push_back(a);
    a.lang = 1031;
    list.push_back(a);
    Resource other = a;
    other.name = ResNameUpper("CONFIG");
    list.push_back(other);
    PutResource(&list, ResNameUpper("Text"), Named(u"commandline"), {'n', 'e', 'w'});
    ASSERT_EQ(list.size(), 2u);
    const Resource* r = FindResource(list, ResNameUpper("TEXT"), ResNameUpper("COMMANDLINE"));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->lang, 1033u);
    EXPECT_EQ(r->data, (std::vector<std::uint8_t>{'n', 'e', 'w'}));
    EXPECT_NE(FindResource(list, ResNameUpper("TEXT"), ResNameUpper("CONFIG")), nullptr);
    PutResource(&list, ResNameUpper("KELFILE"), ResNameUpper("X"), {});
    EXPECT_EQ(FindResource(list, ResNameUpper("KELFILE"), ResNameUpper("X"))->lang, 0u);
    EXPECT_EQ(RemoveResources(&list, ResNameUpper("TEXT"), ResNameUpper("CONFIG")), 1);
    EXPECT_EQ(list.size(), 2u);
}

}  // namespace
}  // namespace kelpack
