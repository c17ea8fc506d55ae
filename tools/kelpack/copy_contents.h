// What a launcher copy carries, as the packager writes and checks it: the
// names of its resources, its splash configuration text, and the checks on
// a command line, a bitmap name and a title before they go in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "resources.h"

namespace kelpack {

// Types and names of the launcher's resources, the contract's (kel::), as
// resource compilers store them (upper case; the launcher's lookups ignore
// case). The icon group is kel::kIconGroupId.
ResId AppType();            // kel::kApplicationResourceType
ResId AppName();            // kel::kApplicationResourceName
ResId TextType();           // kel::kTextResourceType
ResId CommandLineName();    // kel::kCommandLineResourceName
ResId ConfigName();         // kel::kConfigResourceName
ResId SplashType();         // kel::kSplashResourceType
ResId HiResAwareType();     // kel::kHiResAwareResourceType
ResId HiResAwareName();     // kel::kHiResAwareResourceName

// The mark of a copy ready for high-resolution screens, as packed: one
// 16-bit value, kel::kHiResAwareValue.
std::vector<std::uint8_t> HiResMarkBytes();

// What a copy carries of that mark.
struct HiResMark {
    bool present = false;  // a resource of that type and name is there
    bool marked = false;   // it holds exactly the one 16-bit value the mark is
    std::string held;      // otherwise, what it holds, for people ("3 bytes: 01 00 00")
};

// Reads the mark from a copy's resources. Only the exact value counts as
// marked: what a device makes of other bytes is not known.
HiResMark ReadHiResMark(const ResourceList& res);

// A contract name (kel::) as text for people.
std::string ContractName(const char16_t* name);

// One "key=value" entry of a configuration text, split at its first "=".
struct ConfigEntry {
    std::string key;
    bool hasValue = false;  // false for an entry without "="
    std::string value;
};

// A "SplashScreen" entry's value, "WxH;NAME", taken apart and held (the
// launcher's own view of it, splash::SplashEntry, points into the text).
struct SplashValue {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::string name;  // the bitmap's resource name
};

// The entries of a configuration text as the launcher's parser splits them
// ("|" between entries, the first "=" in each; the text ends at a NUL).
std::vector<ConfigEntry> SplitConfig(const std::string& text);

// A "SplashScreen" value, "WxH;NAME", as the launcher's parser reads it.
SplashValue ParseSplashValue(const std::string& value);

// Builds "SplashScreen=WxH;NAME|...|SplashScreenTitle=TITLE"; the title entry
// is left out when `title` is null.
std::string BuildConfig(const std::vector<SplashValue>& entries, const std::string* title);

// Checks a splash bitmap name for use in the configuration and as a
// resource name; false with the reason.
bool CheckSplashName(const std::string& name, std::string* error);

// Checks a splash title; false with the reason.
bool CheckTitle(const std::string& title, std::string* error);

// For a title beyond ASCII, a warning that quotes what the splash window
// shows instead; empty for an ASCII title.
std::string TitleWarning(const std::string& title);

// Checks the embedded command line; false with the reason. `warning` is set
// for text the launcher would pass on altered.
bool CheckCommandLine(const std::string& text, std::string* error, std::string* warning);

}  // namespace kelpack
