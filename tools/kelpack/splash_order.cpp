#include "splash_order.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numeric>

#include "splash/config.h"

namespace kelpack {

namespace {

std::uint64_t Pixels(const SplashValue& e) { return std::uint64_t{e.width} * e.height; }

bool Fits(const SplashValue& e, const ScreenSize& s) {
    return e.width <= static_cast<std::uint32_t>(s.width) && e.height <= static_cast<std::uint32_t>(s.height);
}

// The "SplashScreen" entries of a configuration text, in its order.
std::vector<SplashValue> SplashEntries(const std::string& configText) {
    std::vector<SplashValue> entries;
    for (const ConfigEntry& e : SplitConfig(configText))
        if (e.key == splash::kSplashKey) entries.push_back(ParseSplashValue(e.hasValue ? e.value : std::string()));
    return entries;
}

// Whether the launcher shows, on every screen that some entry fits, an
// entry of the most pixels among those that fit.
bool ServesEveryScreen(const std::vector<SplashValue>& entries, const std::string& configText) {
    std::vector<int> chosen = ChosenEntries(configText, kCommonScreens);
    for (std::size_t s = 0; s < kCommonScreens.size(); ++s) {
        std::uint64_t best = 0;
        bool any = false;
        for (const SplashValue& e : entries)
            if (Fits(e, kCommonScreens[s])) {
                best = any ? std::max(best, Pixels(e)) : Pixels(e);
                any = true;
            }
        if (!any) continue;
        if (chosen[s] < 0) return false;
        const SplashValue& shown = entries[static_cast<std::size_t>(chosen[s])];
        if (!Fits(shown, kCommonScreens[s]) || Pixels(shown) != best) return false;
    }
    return true;
}

}  // namespace

std::vector<int> ChosenEntries(const std::string& configText, const std::vector<ScreenSize>& screens) {
    splash::SplashConfig* config = splash::ParseSplashConfig(configText.data(), static_cast<std::uint32_t>(configText.size()));
    std::vector<const char*> values;
    for (std::int32_t k = 0; k < config->count; ++k)
        if (std::strcmp(config->keys[k], splash::kSplashKey) == 0) values.push_back(config->values[k]);
    std::vector<int> chosen;
    for (const ScreenSize& s : screens) {
        splash::SplashChoice* choice = splash::ChooseSplashForScreen(config, s.width, s.height);
        int index = -1;
        // The name the choice holds points into the value of the entry taken.
        for (std::size_t i = 0; choice != nullptr && i < values.size() && index < 0; ++i) {
            const char* v = values[i];
            if (v != nullptr && choice->resourceName >= v && choice->resourceName <= v + std::strlen(v))
                index = static_cast<int>(i);
        }
        std::free(choice);
        chosen.push_back(index);
    }
    splash::FreeSplashConfig(config);
    return chosen;
}

std::vector<std::size_t> SplashEntryOrder(const std::vector<SplashValue>& entries) {
    std::vector<std::size_t> order(entries.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    if (ServesEveryScreen(entries, BuildConfig(entries, nullptr))) return order;
    // By pixels, then width, then height: an entry of no pixels (0 wide or
    // high) must still come before one that fits fewer screens.
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const SplashValue &x = entries[a], &y = entries[b];
        return Pixels(x) != Pixels(y) ? Pixels(x) < Pixels(y) : x.width != y.width ? x.width < y.width : x.height < y.height;
    });
    return order;
}

std::vector<OversizedChoice> OversizedChoices(const std::string& configText, const std::vector<bool>& packed) {
    std::vector<SplashValue> entries = SplashEntries(configText);
    std::vector<int> chosen = ChosenEntries(configText, kCommonScreens);
    std::vector<OversizedChoice> found;
    for (std::size_t s = 0; s < kCommonScreens.size(); ++s) {
        const ScreenSize& screen = kCommonScreens[s];
        if (chosen[s] < 0 || Fits(entries[static_cast<std::size_t>(chosen[s])], screen)) continue;
        int best = -1;
        for (std::size_t i = 0; i < entries.size() && i < packed.size(); ++i)
            if (packed[i] && Fits(entries[i], screen) &&
                (best < 0 || Pixels(entries[i]) > Pixels(entries[static_cast<std::size_t>(best)])))
                best = static_cast<int>(i);
        if (best >= 0) found.push_back({screen, static_cast<std::size_t>(chosen[s]), static_cast<std::size_t>(best)});
    }
    return found;
}

}  // namespace kelpack
