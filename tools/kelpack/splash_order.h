// The order of splash entries, judged by the launcher's own choice
// (splash::ChooseSplashForScreen). The launcher takes the first
// "SplashScreen" entry on every screen and replaces it only by a later one
// that fits the screen and is larger in width or height, so an entry given
// too early can shadow a fitting one on a screen, or keep another from
// every screen.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "copy_contents.h"
#include "launcher_view.h"

namespace kelpack {

// For each screen, the index among the configuration's "SplashScreen"
// entries of the one the launcher shows; -1 when it shows none.
std::vector<int> ChosenEntries(const std::string& configText, const std::vector<ScreenSize>& screens);

// The order to write entries in, as indexes into `entries`: as given when
// that already gives each of kCommonScreens the largest entry (in pixels)
// that fits it, else smallest first (by pixels, then width, then height;
// ties as given), which does so on every screen: an entry is then replaced
// by every later one that fits and is larger.
std::vector<std::size_t> SplashEntryOrder(const std::vector<SplashValue>& entries);

// A screen on which the launcher shows an entry larger than the screen
// while another entry, whose bitmap is packed, fits it.
struct OversizedChoice {
    ScreenSize screen;
    std::size_t shown;  // indexes among the "SplashScreen" entries
    std::size_t fits;   // the largest packed entry that fits
};

// Those screens among kCommonScreens for a configuration text; `packed`
// tells, for each "SplashScreen" entry, whether its bitmap is packed.
std::vector<OversizedChoice> OversizedChoices(const std::string& configText, const std::vector<bool>& packed);

}  // namespace kelpack
