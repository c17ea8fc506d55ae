#include "splash/config.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "text/text.h"

namespace {

using splash::SplashConfig;

// Parses and choices own memory; these give it back when a test is done with it.
struct ConfigDeleter {
    void operator()(SplashConfig* config) const { splash::FreeSplashConfig(config); }
};
struct ChoiceDeleter {
    void operator()(splash::SplashChoice* choice) const { std::free(choice); }
};
using Config = std::unique_ptr<SplashConfig, ConfigDeleter>;
using Choice = std::unique_ptr<splash::SplashChoice, ChoiceDeleter>;

Config ParseConfig(const char* bytes, uint32_t length) { return Config(splash::ParseSplashConfig(bytes, length)); }
Choice ChooseFor(const Config& config, int32_t screenWidth, int32_t screenHeight) {
    return Choice(splash::ChooseSplashForScreen(config.get(), screenWidth, screenHeight));
}

// An entry as a test reads it: key and value, with the value absent for an entry without "=".
struct Entry {
    std::string key;
    bool hasValue;
    std::string value;
    bool operator==(const Entry& other) const {
        return key == other.key && hasValue == other.hasValue && value == other.value;
    }
};

std::vector<Entry> Entries(const Config& config) {
    std::vector<Entry> entries;
    for (int32_t i = 0; i < config->count; ++i) {
        const char* value = config->values[i];
        entries.push_back({config->keys[i], value != nullptr, value != nullptr ? value : ""});
    }
    return entries;
}

std::vector<Entry> Parse(const std::string& bytes) {
    return Entries(ParseConfig(bytes.data(), static_cast<uint32_t>(bytes.size())));
}

Entry Absent(const std::string& key) { return {key, false, ""}; }
Entry Pair(const std::string& key, const std::string& value) { return {key, true, value}; }

TEST(SplashConfigFormat, SplitsAtBarsAndTheFirstEquals) {
    EXPECT_EQ(Parse("A=b=c"), std::vector<Entry>{Pair("A", "b=c")});
    EXPECT_EQ(Parse("A|B=1"), (std::vector<Entry>{Absent("A"), Pair("B", "1")}));
    EXPECT_EQ(Parse("||"), (std::vector<Entry>{Absent(""), Absent(""), Absent("")}));
    // An empty value is not an absent one; an empty key is allowed.
    EXPECT_EQ(Parse("K=|=v"), (std::vector<Entry>{Pair("K", ""), Pair("", "v")}));
    // Nothing is trimmed and case is kept; the same key may come twice.
    EXPECT_EQ(Parse(" a = b |a=c"), (std::vector<Entry>{Pair(" a ", " b "), Pair("a", "c")}));
}

TEST(SplashConfigFormat, EndsAtANulOrTheLengthAndLeavesTheResourceAlone) {
    std::string withNul("A=1\0B=2|C", 9);
    EXPECT_EQ(Parse(withNul), std::vector<Entry>{Pair("A", "1")});

    // The length bounds the text even where the bytes go on without a NUL.
    const std::string longer = "A=1|B=2";
    Config config = ParseConfig(longer.data(), 3);
    EXPECT_EQ(Entries(config), std::vector<Entry>{Pair("A", "1")});
    // Parsing works on a copy: the resource's bytes are read in place and must not change.
    EXPECT_EQ(longer, "A=1|B=2");
    EXPECT_NE(config->keys[0], longer.data());

    EXPECT_EQ(Parse(""), std::vector<Entry>{Absent("")});

    // No text, or a length only a damaged resource directory claims (its copy
    // would need length + 1 bytes, 0 on a 32-bit build): no entries, nothing read.
    const char unterminated[] = {'A', '=', '1'};
    for (uint32_t length : {text::kMaxTakenBytes + 1, 0xFFFFFFFFu}) {
        Config damaged = ParseConfig(unterminated, length);
        EXPECT_EQ(damaged->count, 0) << length;
        EXPECT_EQ(damaged->keys, nullptr) << length;
    }
    Config none = ParseConfig(nullptr, 0);
    EXPECT_EQ(none->count, 0);
    EXPECT_EQ(none->keys, nullptr);
    EXPECT_EQ(none->values, nullptr);
}

TEST(SplashConfigFormat, DefaultTextHasTwoBitmapsAndATitle) {
    EXPECT_EQ(std::strlen(splash::kDefaultSplashConfig), 106u);
    EXPECT_EQ(Parse(splash::kDefaultSplashConfig),
              (std::vector<Entry>{Pair("SplashScreen", "150x150;Splash.bmp"), Pair("SplashScreen", "300x300;Splash300.bmp"),
                                  Pair("SplashScreenTitle", "The Big Splash Screen")}));
}

TEST(SplashConfigFormat, FindsTheFirstExactKey) {
    Config config = ParseConfig("T=One|T=Two|Bare|t=lower|T =spaced", 34);
    EXPECT_STREQ(splash::FindSplashValue(config.get(), "T", "dflt"), "One");
    EXPECT_STREQ(splash::FindSplashValue(config.get(), "t", "dflt"), "lower");
    EXPECT_STREQ(splash::FindSplashValue(config.get(), "T ", "dflt"), "spaced");
    EXPECT_EQ(splash::FindSplashValue(config.get(), "Bare", "dflt"), nullptr);
    EXPECT_STREQ(splash::FindSplashValue(config.get(), "Missing", "dflt"), "dflt");
    EXPECT_STREQ(splash::FindSplashValue(ParseConfig(nullptr, 0).get(), "T", "dflt"), "dflt");
}

TEST(SplashEntryParse, ReadsWidthHeightAndName) {
    struct Case {
        const char* value;
        int32_t width, height;
        const char* name;
    };
    const Case cases[] = {
        {"150x150;Splash.bmp", 150, 150, "Splash.bmp"},
        {"150xx200;;A", 150, 200, "A"},
        {"Splash.bmp", 0, 0, "Splash.bmp"},
        {"150;A", 150, 0, "A"},
        {" 150x150;A", 0, 0, " 150x150;A"},
        {"150X150;A", 150, 0, "X150;A"},
        {"1x2;", 1, 2, ""},
        {"1x2;;x 3", 1, 2, "x 3"},
        {"", 0, 0, ""},
        {"-5x5;A", 0, 0, "-5x5;A"},
    };
    for (const Case& c : cases) {
        splash::SplashEntry entry = splash::ParseSplashEntry(c.value);
        EXPECT_EQ(entry.width, c.width) << c.value;
        EXPECT_EQ(entry.height, c.height) << c.value;
        EXPECT_STREQ(entry.name, c.name) << c.value;
        // The name lies inside the value, not in a copy.
        EXPECT_EQ(entry.name, c.value + (std::strlen(c.value) - std::strlen(c.name))) << c.value;
    }
}

TEST(SplashEntryParse, DecimalStopsAtTheFirstNonDigitAndSaturates) {
    int32_t value = -1;
    const char* text = "0042x";
    EXPECT_EQ(splash::ParseDecimal(text, &value), text + 4);
    EXPECT_EQ(value, 42);

    text = "x1";
    value = -1;
    EXPECT_EQ(splash::ParseDecimal(text, &value), text);
    EXPECT_EQ(value, 0);

    // Bytes of 0x80 and above are no digits, even where a signed char would say so.
    text = "7\xB9";
    EXPECT_EQ(splash::ParseDecimal(text, &value), text + 1);
    EXPECT_EQ(value, 7);

    text = "2147483647;";
    EXPECT_EQ(splash::ParseDecimal(text, &value), text + 10);
    EXPECT_EQ(value, INT32_MAX);
    text = "2147483648;";
    EXPECT_EQ(splash::ParseDecimal(text, &value), text + 10);
    EXPECT_EQ(value, INT32_MAX);
    // 2^32 + 10 wraps to 10 in 32 bits; it must stay too large instead.
    text = "4294967306";
    EXPECT_EQ(splash::ParseDecimal(text, &value), text + 10);
    EXPECT_EQ(value, INT32_MAX);
    text = "99999999999999999999999999x";
    EXPECT_EQ(*splash::ParseDecimal(text, &value), 'x');
    EXPECT_EQ(value, INT32_MAX);
}

// The resource name chosen for a configuration on a screen, or "(none)".
std::string Choose(const std::string& text, int32_t screenWidth, int32_t screenHeight) {
    Config config = ParseConfig(text.data(), static_cast<uint32_t>(text.size()));
    Choice choice = ChooseFor(config, screenWidth, screenHeight);
    return choice != nullptr ? choice->resourceName : "(none)";
}

TEST(SplashChoiceRule, FirstEntryIsTakenThenOnlyFittingLargerOnes) {
    EXPECT_EQ(Choose("SplashScreen=4000x4000;Big.bmp", 240, 320), "Big.bmp");
    EXPECT_EQ(Choose("SplashScreen=400x400;L.bmp|SplashScreen=150x150;S.bmp", 240, 320), "L.bmp");
    EXPECT_EQ(Choose("SplashScreen=150x150;A|SplashScreen=200x100;B", 240, 320), "B");
    EXPECT_EQ(Choose("SplashScreen=150x150;A|SplashScreen=100x200;B", 240, 320), "B");
    EXPECT_EQ(Choose("SplashScreen=150x150;A|SplashScreen=150x150;B", 240, 320), "A");
    // Equal to the screen fits; one pixel more does not.
    EXPECT_EQ(Choose("SplashScreen=1x1;A|SplashScreen=240x320;B", 240, 320), "B");
    EXPECT_EQ(Choose("SplashScreen=1x1;A|SplashScreen=241x320;B", 240, 320), "A");
    EXPECT_EQ(Choose("SplashScreen=1x1;A|SplashScreen=240x321;B", 240, 320), "A");
    // Each later entry is measured against the current one, not the first.
    EXPECT_EQ(Choose("SplashScreen=10x10;A|SplashScreen=100x100;B|SplashScreen=50x50;C", 240, 320), "B");
    // Only the exact key counts.
    EXPECT_EQ(Choose("splashscreen=1x1;A|SplashScreen =1x1;B|Other=1x1;C", 240, 320), "(none)");
    EXPECT_EQ(Choose("SplashScreenTitle=Only a title", 240, 320), "(none)");
}

TEST(SplashChoiceRule, DefaultTextOnTheNamedScreens) {
    EXPECT_EQ(Choose(splash::kDefaultSplashConfig, 240, 320), "Splash.bmp");
    EXPECT_EQ(Choose(splash::kDefaultSplashConfig, 480, 640), "Splash300.bmp");
    EXPECT_EQ(Choose(splash::kDefaultSplashConfig, 320, 240), "Splash.bmp");
    EXPECT_EQ(Choose(splash::kDefaultSplashConfig, 300, 300), "Splash300.bmp");
}

TEST(SplashChoiceRule, OverlongNumbersNeverFit) {
    // Wrapped to 32 bits, 4294967306 would be 10 and win on any screen.
    EXPECT_EQ(Choose("SplashScreen=5x5;A|SplashScreen=4294967306x4294967306;B", 240, 320), "A");
    EXPECT_EQ(Choose("SplashScreen=5x5;A|SplashScreen=99999999999x10;B", 240, 320), "A");
}

TEST(SplashChoiceRule, EntriesWithoutEqualsCountAsEmptyValues) {
    // "SplashScreen" alone is "SplashScreen=": as the first entry it is taken, as 0 x 0 with
    // an empty name, and any later entry that fits replaces it.
    EXPECT_EQ(Choose("SplashScreen|SplashScreen=4000x10;A", 240, 320), "");
    EXPECT_EQ(Choose("SplashScreen|SplashScreen=10x10;A", 240, 320), "A");
    EXPECT_EQ(Choose("SplashScreen=10x10;A|SplashScreen", 240, 320), "A");

    Config config = ParseConfig("SplashScreen=1x1;A|SplashScreenTitle", 36);
    Choice choice = ChooseFor(config, 240, 320);
    ASSERT_NE(choice, nullptr);
    EXPECT_STREQ(choice->title, "");
}

TEST(SplashChoiceRule, RecordsTitleSizesAndScreen) {
    Config config = ParseConfig("SplashScreen=150x100;A|SplashScreenTitle=One|SplashScreenTitle=Two", 66);
    Choice choice = ChooseFor(config, 240, 320);
    ASSERT_NE(choice, nullptr);
    EXPECT_STREQ(choice->title, "One");
    EXPECT_EQ(choice->width, 150);
    EXPECT_EQ(choice->height, 100);
    EXPECT_EQ(choice->screenWidth, 240);
    EXPECT_EQ(choice->screenHeight, 320);

    Config untitled = ParseConfig("SplashScreen=1x1;A", 18);
    EXPECT_STREQ(ChooseFor(untitled, 240, 320)->title, "My Splash Screen");
}

}  // namespace

namespace {

// Records the names asked for and answers from a set of present ones.
struct Lookup {
    std::vector<std::string> present;
    std::vector<std::u16string> asked;
    static bool Present(const char16_t* name, void* context) {
        auto* lookup = static_cast<Lookup*>(context);
        lookup->asked.push_back(name);
        for (const std::string& p : lookup->present)
            if (std::u16string(p.begin(), p.end()) == name) return true;
        return false;
    }
};

TEST(AnyOfferedBitmapPresent, AsksForEveryOfferedNameUntilOneIsPresent) {
    const char text[] = "SplashScreen=99x99;Big.bmp|SplashScreenTitle=T|Other=1x1;Not.bmp|SplashScreen|"
                        "SplashScreen=;;Small.bmp";
    Config config = ParseConfig(text, sizeof text - 1);
    struct Case {
        std::vector<std::string> present;
        bool any;
        std::vector<std::u16string> asked;   // in order; an entry without "=" offers the empty name
    } cases[] = {
        {{}, false, {u"Big.bmp", u"", u"Small.bmp"}},
        {{"Small.bmp"}, true, {u"Big.bmp", u"", u"Small.bmp"}},
        {{"Big.bmp", "Small.bmp"}, true, {u"Big.bmp"}},
        {{"Not.bmp"}, false, {u"Big.bmp", u"", u"Small.bmp"}},
    };
    for (const Case& c : cases) {
        Lookup lookup;
        lookup.present = c.present;
        EXPECT_EQ(splash::AnyOfferedBitmapPresent(config.get(), Lookup::Present, &lookup), c.any);
        EXPECT_EQ(lookup.asked, c.asked);
    }
    // Without any splash entry nothing is offered and nothing asked.
    Config none = ParseConfig("SplashScreenTitle=T", 19);
    Lookup lookup;
    EXPECT_FALSE(splash::AnyOfferedBitmapPresent(none.get(), Lookup::Present, &lookup));
    EXPECT_TRUE(lookup.asked.empty());
}

}  // namespace
