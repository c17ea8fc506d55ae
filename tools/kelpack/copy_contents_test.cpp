#include "copy_contents.h"

#include <gtest/gtest.h>

#include "splash/config.h"

namespace kelpack {
namespace {

TEST(ConfigText, SplitsAtBarsAndTheFirstEquals) {
    auto e = SplitConfig("A=b=c");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].key, "A");
    EXPECT_EQ(e[0].value, "b=c");
    e = SplitConfig("A|B=1");
    ASSERT_EQ(e.size(), 2u);
    EXPECT_FALSE(e[0].hasValue);
    EXPECT_EQ(e[1].key, "B");
    EXPECT_EQ(e[1].value, "1");
    e = SplitConfig("||");
    ASSERT_EQ(e.size(), 3u);
    for (const auto& x : e) EXPECT_TRUE(x.key.empty() && !x.hasValue);
    EXPECT_EQ(SplitConfig("").size(), 1u);
    e = SplitConfig(std::string("A=1|B=2\0|C=3", 12));
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[1].value, "2");
    e = SplitConfig("K=");
    EXPECT_TRUE(e[0].hasValue);
    EXPECT_EQ(e[0].value, "");
}

TEST(ConfigText, SplashValuesAreReadAsTheLauncherReadsThem) {
    struct Case { const char* v; std::uint32_t w, h; const char* name; };
    for (Case c : {Case{"150x150;Splash.bmp", 150, 150, "Splash.bmp"}, Case{"150xx200;;A", 150, 200, "A"},
                   Case{"Splash.bmp", 0, 0, "Splash.bmp"}, Case{"150;A", 150, 0, "A"}, Case{" 150x150;A", 0, 0, " 150x150;A"},
                   Case{"99999999999x1;B", 2147483647u, 1, "B"}, Case{"1x2;", 1, 2, ""}}) {
        SplashValue e = ParseSplashValue(c.v);
        EXPECT_EQ(e.width, c.w) << c.v;
        EXPECT_EQ(e.height, c.h) << c.v;
        EXPECT_EQ(e.name, c.name) << c.v;
    }
}

TEST(ConfigText, BuildsWhatItReadsBack) {
    std::string title = "My Game";
    std::string text = BuildConfig({{240, 320, "s.bmp"}, {480, 640, "BIG.bmp"}}, &title);
    EXPECT_EQ(text, "SplashScreen=240x320;s.bmp|SplashScreen=480x640;BIG.bmp|SplashScreenTitle=My Game");
    auto e = SplitConfig(text);
    ASSERT_EQ(e.size(), 3u);
    SplashValue s = ParseSplashValue(e[1].value);
    EXPECT_EQ(s.width, 480u);
    EXPECT_EQ(s.name, "BIG.bmp");
    EXPECT_EQ(BuildConfig({}, &title), "SplashScreenTitle=My Game");
    EXPECT_EQ(BuildConfig({{1, 1, "a"}}, nullptr), "SplashScreen=1x1;a");
    EXPECT_EQ(SplitConfig(splash::kDefaultSplashConfig).size(), 3u);
}

TEST(PackChecks, CommandLineWithLineBreakOrNulIsRefused) {
    std::string error, warning;
    EXPECT_TRUE(CheckCommandLine("app.Main -x \"a b\"", &error, &warning));
    EXPECT_TRUE(warning.empty());
    EXPECT_TRUE(CheckCommandLine("", &error, &warning));
    EXPECT_FALSE(CheckCommandLine("abc\r\ndef", &error, &warning));
    EXPECT_NE(error.find("carriage return (CR) at byte 4"), std::string::npos) << error;
    EXPECT_FALSE(CheckCommandLine("a\nb", &error, &warning));
    EXPECT_NE(error.find("line feed"), std::string::npos);
    EXPECT_FALSE(CheckCommandLine(std::string("a\0b", 3), &error, &warning));
    EXPECT_NE(error.find("NUL at byte 2"), std::string::npos);
    EXPECT_TRUE(CheckCommandLine("caf\xc3\xa9", &error, &warning));
    EXPECT_NE(warning.find("U+FF80"), std::string::npos);
}

TEST(PackChecks, SplashNamesAndTitles) {
    std::string error;
    EXPECT_TRUE(CheckSplashName("Splash 300.bmp", &error));
    for (const char* bad : {"", "a|b", ";a", "#5", "caf\xc3\xa9", "tab\there"}) EXPECT_FALSE(CheckSplashName(bad, &error)) << bad;
    EXPECT_TRUE(CheckTitle("A = B", &error));
    EXPECT_FALSE(CheckTitle("A|B", &error));
    EXPECT_FALSE(CheckTitle(std::string("A\0B", 3), &error));
}

}  // namespace
}  // namespace kelpack
