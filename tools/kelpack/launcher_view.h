// What a launcher copy's own code makes of its resources: the resource
// lookup as the platform does it, the splash configuration, and the splash
// shown on a given screen. The choice and the bitmap checks are the
// launcher's (splash::ChooseSplashForScreen, splash::CheckSplashBmp); only
// the resources come from the file instead of the running module.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bitmap_check.h"
#include "outcome.h"
#include "pe.h"
#include "resources.h"
#include "splash/config.h"

namespace kelpack {

// What reading a launcher copy came to.
enum class LauncherRead {
    kRead,
    kUnreadable,  // the file cannot be read
    kTooLarge,    // it holds more than the limit, and was not read
    kNotUsable,   // it is no usable PE image or resource tree
};

// Reads a launcher copy of at most `limit` bytes and its resources. The
// image is read from the file where it is looked at; the application
// package's bytes stay in the file (the leaf says where); every other leaf
// is held. `size` gets the file's size, `why` the reason, without the
// file's name.
LauncherRead ReadLauncher(const std::string& path, std::uint64_t limit, PeImage* image, ResourceList* res,
                          std::uint64_t* size, std::string* why);

// ReadLauncher for a file to look at (show, explain, preview): false, with
// the reason naming the file failed into `outcome` (kExitRead: unreadable;
// kExitBadImage: larger than a PE image spans, or not a usable PE image or
// resource tree).
bool ReadLauncherFile(const std::string& path, PeImage* image, ResourceList* res, Outcome* outcome);

// The id the platform's lookup sees for a name the launcher asks for as byte
// text: each byte widened on its own, as the launcher widens it; "#" and
// decimal digits name an integer id. Matched with ResIdMatches (letter
// case ignored).
ResId LauncherLookupName(const std::string& name);

// The first resource of this type whose name the platform's lookup matches.
const Resource* FindLauncherResource(const ResourceList& res, const ResId& type, const std::string& name);

// The text of the launcher's splash configuration: its CONFIG resource's
// bytes, or the built-in default text when there is none (`packed` false).
std::string LauncherConfigText(const ResourceList& res, bool* packed);

// That configuration as the launcher parses it. Release with splash::FreeSplashConfig.
splash::SplashConfig* LauncherSplashConfig(const ResourceList& res, bool* packed);

// The splash the launcher shows on one screen.
struct SplashOutcome {
    std::int32_t screenWidth = 0;
    std::int32_t screenHeight = 0;
    bool offered = false;          // the configuration has a "SplashScreen" entry
    bool asksScreen = false;       // some bitmap it offers is packed, so the launcher asks
                                   // the screen size and chooses; else it shows none
    bool chosen = false;           // a "SplashScreen" entry was taken
    std::string name;              // its bitmap resource name
    std::int32_t entryWidth = 0;   // the size the entry is configured with
    std::int32_t entryHeight = 0;
    std::string title;             // the splash window's title
    bool present = false;          // a SplashScreen resource of that name is packed
    bool decodes = false;          // the launcher's decoder accepts it
    BmpInfo bitmap;                // what the decoder reads, when it decodes
    std::string problem;           // why not, when present but rejected
};

// The launcher's choice for a screen of width x height, and whether its bitmap decodes.
SplashOutcome SplashForScreen(const ResourceList& res, const splash::SplashConfig* config, std::int32_t width,
                              std::int32_t height);

// The values of the "SplashScreen" entries the launcher chooses on no screen
// at all. It takes the first entry on every screen and replaces the one it
// holds only by a later entry that fits and is larger in width or height, so
// an entry behind a larger one may never be reached. Configurations of more
// than kMaxEntriesJudged such entries are not judged (none is returned).
constexpr std::size_t kMaxEntriesJudged = 64;
std::vector<std::string> UnreachableSplashEntries(const splash::SplashConfig* config);

// A screen size.
struct ScreenSize {
    std::int32_t width;
    std::int32_t height;
};

// The screens of the devices the launcher meets most: the handhelds' own,
// portrait, landscape and square at both resolutions, and the wide one.
// `show` and `preview` look at each, and `pack` orders splash entries for
// them all.
extern const std::vector<ScreenSize> kCommonScreens;

// Those screens as the help of show and preview lists them: "240x320, 320x240 and 480x640".
std::string CommonScreensText();

// The screen a high-resolution Pocket PC (Windows Mobile 2003 Second
// Edition, CE 4.21 on) tells a copy not marked ready for high resolution it
// has, doubling every pixel: 240x320, or 320x240 in landscape (240x240 on a
// square screen). False, with `told` untouched, for a screen no larger than
// that, which is not doubled.
bool DoubledScreen(std::int32_t width, std::int32_t height, ScreenSize* told);

}  // namespace kelpack
