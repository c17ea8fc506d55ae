// The splash configuration: the "CONFIG" text resource (or the built-in
// default), its parse into entries, and the choice of the splash bitmap that
// fits the screen best. Shared with kelpack, which shows and explains a
// packaged launcher's choice for any screen size.
#pragma once

#include <cstdint>

namespace splash {

// The configuration used when the module carries no "CONFIG" resource (106 bytes).
extern const char kDefaultSplashConfig[];
// The window title when the configuration names none.
extern const char kDefaultSplashTitle[];
// How long the start-up waits for the splash window's first paint, in milliseconds.
const uint32_t kFirstPaintWaitMs = 3000;
// The configuration keys of a splash bitmap entry and of the window title.
const char kSplashKey[] = "SplashScreen";
const char kSplashTitleKey[] = "SplashScreenTitle";

// The parsed configuration text; keys and values point into a private, NUL-split copy.
struct SplashConfig {
    char** keys;      // key of each entry, in the order of the text
    char** values;    // value of each entry; null for an entry without "="
    int32_t count;    // entries; 0 only when no text was given at all
};

// The chosen splash entry.
struct SplashChoice {
    const char* resourceName;    // bitmap resource of the entry taken; null while none is taken
    const char* title;           // splash window title (never null once chosen)
    int32_t width;               // of the entry taken; the bitmap's own once decoded
    int32_t height;
    int32_t screenWidth;         // the screen the choice was made for
    int32_t screenHeight;
};

// One "SplashScreen" value taken apart.
struct SplashEntry {
    int32_t width;
    int32_t height;
    const char* name;    // points into the value
};

// Splits configuration text (null: no text) into entries; always returns a record, an empty
// one for a length beyond text::kMaxTakenBytes.
SplashConfig* ParseSplashConfig(const char* bytes, uint32_t length);
// Releases a parsed configuration and the copy of the text it points into. The
// launcher keeps its own for the whole process; tools that parse many release them.
void FreeSplashConfig(SplashConfig* config);
// The value of the first entry whose key equals key exactly (null when it has no "="); defaultText when none does.
const char* FindSplashValue(const SplashConfig* config, const char* key, const char* defaultText);
// Reads decimal digits into value, saturating at INT32_MAX; returns the first byte that is no digit.
const char* ParseDecimal(const char* text, int32_t* value);
// Takes a "SplashScreen" value apart: width, "x"s, height, ";"s, then the resource name.
SplashEntry ParseSplashEntry(const char* value);
// Takes a candidate into the choice when it is the first or fits the screen and is larger; null counts as "".
void OfferSplashCandidate(SplashChoice* choice, const char* value);
// Tells whether the module carries a splash bitmap resource of that name.
typedef bool (*SplashBitmapPresent)(const char16_t* name, void* context);
// Whether any bitmap the configuration offers is present. Asking for the
// screen size is the first thing that starts the display driver, which costs
// a start without a splash more than all the rest of the launcher; when no
// offered bitmap is present, no choice could give a splash, and the launcher
// neither asks the screen size nor chooses.
bool AnyOfferedBitmapPresent(const SplashConfig* config, SplashBitmapPresent present, void* context);
// The choice for a given screen size; null (and nothing kept) when no "SplashScreen" entry exists.
SplashChoice* ChooseSplashForScreen(const SplashConfig* config, int32_t screenWidth, int32_t screenHeight);

}  // namespace splash
