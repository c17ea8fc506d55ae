#include "splash_order.h"

#include <gtest/gtest.h>

#include <cstring>

#include "splash/config.h"

namespace kelpack {
namespace {

std::vector<SplashValue> Entries(const std::vector<std::string>& values) {
    std::vector<SplashValue> entries;
    for (const std::string& v : values) entries.push_back(ParseSplashValue(v));
    return entries;
}

TEST(SplashEntryOrder, KeepsAnOrderThatServesEveryScreenElseSmallestFirst) {
    struct Case { std::vector<std::string> entries; std::vector<std::size_t> order; };
    const Case cases[] = {
        {{"240x320;a", "480x640;b"}, {0, 1}},
        {{"300x400;big", "200x150;small"}, {1, 0}},
        {{"480x640;big", "240x320;small"}, {1, 0}},
        // Wider though lower, B replaces A even on a 240x240 screen, where A is the larger.
        {{"150x150;A", "200x100;B"}, {1, 0}},
        {{"200x100;B", "150x150;A"}, {0, 1}},
        // The same size twice: the first is shown, as well as the second would be.
        {{"150x150;A", "150x150;B"}, {0, 1}},
        // A does not fit 320x240, but B, wider, replaces it there.
        {{"100x300;A", "200x200;B"}, {0, 1}},
        // Landscape and portrait at two resolutions: the small ones first, of as many pixels the narrower.
        {{"640x480;L", "480x640;P", "240x320;s", "320x240;t"}, {2, 3, 1, 0}},
        {{"4000x4000;huge"}, {0}},
        // No pixels at all: the narrower first, or the wide one would shadow it on narrow screens.
        {{"320x0;a", "0x0;b", "0x0;c"}, {1, 2, 0}},
        {{}, {}},
    };
    for (const Case& c : cases) {
        std::vector<SplashValue> entries = Entries(c.entries);
        std::vector<std::size_t> order = SplashEntryOrder(entries);
        EXPECT_EQ(order, c.order) << c.entries.size() << " entries, first " << (c.entries.empty() ? "" : c.entries[0]);
        // The order written serves every screen, by the launcher's own choice.
        std::vector<SplashValue> written;
        for (std::size_t i : order) written.push_back(entries[i]);
        std::vector<int> chosen = ChosenEntries(BuildConfig(written, nullptr), kCommonScreens);
        for (std::size_t s = 0; s < kCommonScreens.size(); ++s) {
            std::uint64_t best = 0;
            for (const SplashValue& e : written)
                if (e.width <= static_cast<std::uint32_t>(kCommonScreens[s].width) &&
                    e.height <= static_cast<std::uint32_t>(kCommonScreens[s].height))
                    best = std::max<std::uint64_t>(best, std::uint64_t{e.width} * e.height);
            if (best == 0) continue;
            ASSERT_GE(chosen[s], 0);
            const SplashValue& shown = written[static_cast<std::size_t>(chosen[s])];
            EXPECT_EQ(std::uint64_t{shown.width} * shown.height, best) << "screen " << s;
        }
    }
}

TEST(ChosenEntries, AreTheLaunchersChoiceOnEachScreen) {
    EXPECT_EQ(ChosenEntries(splash::kDefaultSplashConfig, kCommonScreens), (std::vector<int>{0, 0, 0, 1, 1, 1, 1}));
    EXPECT_EQ(ChosenEntries("SplashScreenTitle=T|SplashScreen=400x400;L|SplashScreen=150x150;S", {{240, 320}, {400, 400}}),
              (std::vector<int>{0, 0}));
    EXPECT_EQ(ChosenEntries("SplashScreenTitle=no entries", {{240, 320}}), (std::vector<int>{-1}));
}

TEST(OversizedChoices, NameTheScreensAnEarlierLargerEntryShadowsAPackedFittingOne) {
    struct Case {
        const char* config;
        std::vector<bool> packed;
        std::vector<std::string> found;  // "screen: shown -> fits"
    };
    const Case cases[] = {
        {"SplashScreen=300x400;big|SplashScreen=200x150;small", {true, true},
         {"240x320: 0 -> 1", "320x240: 0 -> 1", "240x240: 0 -> 1"}},
        // The fitting one is not packed: nothing better could be shown.
        {"SplashScreen=300x400;big|SplashScreen=200x150;small", {true, false}, {}},
        {"SplashScreen=240x320;a|SplashScreen=480x640;b", {true, true}, {}},
        // Neither wider nor higher than the first, the fitting one never replaces it.
        {"SplashScreen=320x320;sq|SplashScreen=240x240;s|SplashScreenTitle=T", {true, true},
         {"240x320: 0 -> 1", "320x240: 0 -> 1", "240x240: 0 -> 1"}},
        // Portrait first: on a landscape screen the landscape entry, wider, replaces it.
        {"SplashScreen=240x320;p|SplashScreen=320x240;l", {true, true}, {}},
        // Of the packed ones that fit, the largest is named.
        {"SplashScreen=480x640;big|SplashScreen=100x100;tiny|SplashScreen=240x320;mid", {true, true, true},
         {"240x320: 0 -> 2", "320x240: 0 -> 1", "240x240: 0 -> 1", "640x480: 0 -> 2", "480x480: 0 -> 2", "800x480: 0 -> 2"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> found;
        for (const OversizedChoice& o : OversizedChoices(c.config, c.packed))
            found.push_back(std::to_string(o.screen.width) + "x" + std::to_string(o.screen.height) + ": " +
                            std::to_string(o.shown) + " -> " + std::to_string(o.fits));
        EXPECT_EQ(found, c.found) << c.config;
    }
}

}  // namespace
}  // namespace kelpack
