// Fuzzes the judgement of splash entry order on any configuration text:
// the launcher's choice on each screen, the order pack would write the
// entries in (which must then serve every screen it judges, by the same
// choice), and the screens shown an entry larger than they are. Any broken
// promise aborts, so that libFuzzer keeps the input.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "kelpack/copy_contents.h"
#include "kelpack/splash_order.h"

namespace {

using namespace kelpack;

void Check(bool condition) {
    if (!condition) std::abort();
}

bool Fits(const SplashValue& e, const ScreenSize& s) {
    return e.width <= static_cast<std::uint32_t>(s.width) && e.height <= static_cast<std::uint32_t>(s.height);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;  // the order is judged on every screen for each entry: keep runs quick
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<SplashValue> entries;
    std::vector<bool> packed;
    for (const ConfigEntry& e : SplitConfig(text)) {
        if (e.key != "SplashScreen") continue;
        entries.push_back(ParseSplashValue(e.hasValue ? e.value : std::string()));
        packed.push_back(e.hasValue && (e.value.size() & 1) != 0);
    }
    std::vector<int> chosen = ChosenEntries(text, kCommonScreens);
    Check(chosen.size() == kCommonScreens.size());
    for (int c : chosen) Check(c >= -1 && c < static_cast<int>(entries.size()));
    for (const OversizedChoice& o : OversizedChoices(text, packed)) {
        Check(o.shown < entries.size() && o.fits < entries.size() && packed[o.fits]);
        Check(!Fits(entries[o.shown], o.screen) && Fits(entries[o.fits], o.screen));
    }

    // Entries written in the order chosen give each screen an entry of the
    // most pixels among those that fit it. Names are the launcher's own, so
    // that each written entry is read back as it was.
    std::vector<SplashValue> plain;
    for (std::size_t i = 0; i < entries.size() && i < 64; ++i) {
        SplashValue e = entries[i];
        e.name = "e" + std::to_string(i);
        plain.push_back(e);
    }
    std::vector<std::size_t> order = SplashEntryOrder(plain);
    Check(order.size() == plain.size());
    std::vector<SplashValue> written;
    for (std::size_t i : order) written.push_back(plain.at(i));
    std::vector<int> shown = ChosenEntries(BuildConfig(written, nullptr), kCommonScreens);
    for (std::size_t s = 0; s < kCommonScreens.size(); ++s) {
        std::uint64_t best = 0;
        bool any = false;
        for (const SplashValue& e : written)
            if (Fits(e, kCommonScreens[s])) {
                best = std::max<std::uint64_t>(best, std::uint64_t{e.width} * e.height);
                any = true;
            }
        if (!any) continue;
        Check(shown[s] >= 0);
        const SplashValue& e = written[static_cast<std::size_t>(shown[s])];
        Check(Fits(e, kCommonScreens[s]) && std::uint64_t{e.width} * e.height == best);
    }
    return 0;
}
