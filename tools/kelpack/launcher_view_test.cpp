#include "launcher_view.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kelpack {
namespace {

TEST(UnreachableSplashEntries, AnEntryBehindALargerOneIsNeverChosen) {
    struct Case { const char* config; std::vector<std::string> never; };
    const Case cases[] = {
        {splash::kDefaultSplashConfig, {}},
        {"SplashScreen=240x320;small|SplashScreen=480x640;big", {}},
        {"SplashScreen=480x640;big|SplashScreen=240x320;small", {"240x320;small"}},
        // Wider though lower still replaces: B shows on a 240x320 screen.
        {"SplashScreen=150x150;A|SplashScreen=200x100;B", {}},
        // The same size never replaces the first.
        {"SplashScreen=150x150;A|SplashScreen=150x150;B", {"150x150;B"}},
        // Blocked by F on a 100x100 screen, j is reached on a 150x100 one,
        // where k, wider than F, takes F's place first.
        {"SplashScreen=100x100;F|SplashScreen=150x10;k|SplashScreen=100x100;j", {}},
        {"SplashScreen=400x400;L|SplashScreenTitle=T|SplashScreen=150x150;S|SplashScreen=90x500;H", {"150x150;S"}},
        {"SplashScreenTitle=no entries", {}},
    };
    for (const Case& c : cases) {
        splash::SplashConfig* config = splash::ParseSplashConfig(c.config, static_cast<std::uint32_t>(std::strlen(c.config)));
        EXPECT_EQ(UnreachableSplashEntries(config), c.never) << c.config;
        splash::FreeSplashConfig(config);
    }
}

}  // namespace
}  // namespace kelpack
