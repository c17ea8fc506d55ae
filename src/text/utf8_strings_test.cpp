#include "text/utf8_strings.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Utf8Strings, RoundTripAndBadUtf8IsRefused) {
    bool wellFormed = false;
    std::u16string w = text::Utf8ToWide("a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", &wellFormed);
    ASSERT_TRUE(wellFormed);
    EXPECT_EQ(w, u"a\u00e9\u20ac\U0001F600");
    EXPECT_EQ(text::WideToUtf8(w), "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    EXPECT_EQ(text::WideToUtf8(std::u16string(1, static_cast<char16_t>(0xD800))), "\xef\xbf\xbd");
    for (const char* bad : {"\xc3", "\xe2\x82", "\xc0\x80", "\xed\xa0\x80", "\xff", "a\x80"}) {
        wellFormed = true;
        text::Utf8ToWide(bad, &wellFormed);
        EXPECT_FALSE(wellFormed) << bad;
    }
}

// What is not well-formed becomes U+FFFD byte by byte, and the text after it
// comes through.
TEST(Utf8Strings, EachBadByteBecomesOneReplacement) {
    struct Case {
        std::string utf8;
        std::u16string wide;
        bool wellFormed;
    };
    const Case cases[] = {
        {"", u"", true},
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3), true},
        {"a\x80z", u"a\xFFFDz", false},
        {"\xe2\x82", u"\xFFFD\xFFFD", false},
        {"\xc3\x29", u"\xFFFD)", false},
        {"\xc0\x80x", u"\xFFFD\xFFFDx", false},
        {"\xed\xa0\x80", u"\xFFFD\xFFFD\xFFFD", false},
        {"\xf4\x90\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD", false},
        {"\xc3\xa9\xff\xc3\xa9", u"\xE9\xFFFD\xE9", false},
        {"\xef\xbf\xbd", u"\xFFFD", true},  // U+FFFD itself is text
    };
    for (const Case& c : cases) {
        bool wellFormed = !c.wellFormed;
        EXPECT_EQ(text::Utf8ToWide(c.utf8, &wellFormed), c.wide) << testing::PrintToString(c.utf8);
        EXPECT_EQ(wellFormed, c.wellFormed) << testing::PrintToString(c.utf8);
        EXPECT_EQ(text::Utf8ToWide(c.utf8), c.wide);  // the flag is optional
    }
}

TEST(Utf8Strings, PairsMakeOneCharacterAndLoneSurrogatesAreReplaced) {
    struct Case {
        std::u16string wide;
        std::string utf8;
    };
    const Case cases[] = {
        {u"\xD83D\xDE00", "\xf0\x9f\x98\x80"},
        {u"\xDBFF\xDFFF", "\xf4\x8f\xbf\xbf"},
        {u"\xD800\xDC00", "\xf0\x90\x80\x80"},
        {u"\xDC00", "\xef\xbf\xbd"},
        {u"a\xD800", "a\xef\xbf\xbd"},
        {u"\xDE00\xD83D", "\xef\xbf\xbd\xef\xbf\xbd"},  // low before high is no pair
        {u"\xD83D\xD83D\xDE00", "\xef\xbf\xbd\xf0\x9f\x98\x80"},
        {std::u16string(u"\0\x7F\x80\x7FF\x800\xFFFF", 6), std::string("\0\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf", 12)},
    };
    for (const Case& c : cases) EXPECT_EQ(text::WideToUtf8(c.wide), c.utf8) << testing::PrintToString(c.utf8);
}

TEST(Utf8Strings, WellFormedTextGoesBothWaysUnchanged) {
    for (const std::u16string& w : {std::u16string(u"plain"), std::u16string(u"\\Windows\\G\u00e4me.exe"),
                                    std::u16string(u"\u65e5\u672c\U0001F600 x"), std::u16string(u"\xFFFD\xFEFF")}) {
        bool wellFormed = false;
        EXPECT_EQ(text::Utf8ToWide(text::WideToUtf8(w), &wellFormed), w);
        EXPECT_TRUE(wellFormed);
    }
}

}  // namespace
