// The splash configuration and the best-fitting choice.
//
// The text is a list of entries separated by "|"; in each entry the first "="
// splits the key from the value. Nothing is trimmed and case matters:
//
//   text                                  entries (key -> value)
//   ""                                    "" -> absent
//   "A=b=c"                               "A" -> "b=c"
//   "A|B=1"                               "A" -> absent, "B" -> "1"
//   "||"                                  "" -> absent, three times
//   "K=|=v"                               "K" -> "", "" -> "v"
//   "A=1\0B=2" (a NUL inside)             "A" -> "1" (the NUL ends the text)
//   "SplashScreen =1x1;A"                 "SplashScreen " -> "1x1;A" (no splash entry: the space is part of the key)
//
// A "SplashScreen" value is width, "x"s, height, ";"s, resource name:
//
//   value                    width   height  name
//   "150x150;Splash.bmp"     150     150     "Splash.bmp"
//   "150xx200;;A"            150     200     "A"
//   "Splash.bmp"             0       0       "Splash.bmp"
//   "150;A"                  150     0       "A"
//   " 150x150;A"             0       0       " 150x150;A"
//   "99999999999x5;A"        INT32_MAX 5     "A"   (too many digits saturate)
//
// Choosing on a 240 x 320 screen:
//
//   entries, in order                        chosen
//   150x150;A  300x300;B                     A   (B is wider than the screen)
//   400x400;L  150x150;S                     L   (the first is taken whatever its size; S is smaller in both)
//   150x150;A  200x100;B                     B   (wider, though lower)
//   150x150;A  150x150;B                     A   (equal sizes keep the earlier one)
#include "splash/config.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "text/text.h"

namespace splash {

const char kDefaultSplashConfig[] =
    "SplashScreen=150x150;Splash.bmp|SplashScreen=300x300;Splash300.bmp|SplashScreenTitle=The Big Splash Screen";
const char kDefaultSplashTitle[] = "My Splash Screen";

SplashConfig* ParseSplashConfig(const char* bytes, uint32_t length) {
    auto* config = static_cast<SplashConfig*>(std::malloc(sizeof(SplashConfig)));
    config->keys = NULL;
    config->values = NULL;
    config->count = 0;
    // A length no real configuration has comes from a damaged resource
    // directory; its copy and entry tables must not wrap their sizes.
    if (bytes == NULL || length > text::kMaxTakenBytes) return config;

    // A private copy that the parse splits in place; strncpy stops at a NUL
    // inside the resource and fills the rest with NULs, so the text ends there.
    size_t size = static_cast<size_t>(length);
    char* copy = static_cast<char*>(std::malloc(size + 1));
    std::strncpy(copy, bytes, size);
    copy[size] = 0;

    // First pass: one entry more than there are separators.
    int32_t count = 1;
    for (const char* c = copy; *c != 0; ++c) {
        if (*c == '|') ++count;
    }
    config->count = count;
    config->keys = static_cast<char**>(std::malloc(sizeof(char*) * static_cast<size_t>(count)));
    config->values = static_cast<char**>(std::malloc(sizeof(char*) * static_cast<size_t>(count)));
    for (int32_t i = 0; i < count; ++i) {
        config->keys[i] = NULL;
        config->values[i] = NULL;
    }
    config->keys[0] = copy;

    // Second pass: split at each "|" and at the first "=" of each entry.
    int32_t entry = 0;
    bool split = false;
    for (char* c = copy; *c != 0; ++c) {
        if (*c == '=' && !split) {
            config->values[entry] = c + 1;
            *c = 0;
            split = true;
        } else if (*c == '|') {
            ++entry;
            config->keys[entry] = c + 1;
            *c = 0;
            split = false;
        }
    }
    return config;
}

void FreeSplashConfig(SplashConfig* config) {
    if (config == NULL) return;
    // The first key is where the private copy starts.
    if (config->count > 0) std::free(config->keys[0]);
    std::free(config->keys);
    std::free(config->values);
    std::free(config);
}

const char* FindSplashValue(const SplashConfig* config, const char* key, const char* defaultText) {
    for (int32_t i = 0; i < config->count; ++i) {
        if (std::strcmp(config->keys[i], key) == 0) return config->values[i];
    }
    return defaultText;
}

const char* ParseDecimal(const char* text, int32_t* value) {
    // A number too long for 32 bits saturates rather than wrapping: a wrapped
    // 4294967306 would read as 10 and pass as a bitmap that fits any screen.
    int32_t result = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        int32_t digit = *text - '0';
        if (result > (INT32_MAX - digit) / 10) {
            result = INT32_MAX;
        } else {
            result = result * 10 + digit;
        }
    }
    *value = result;
    return text;
}

SplashEntry ParseSplashEntry(const char* value) {
    SplashEntry entry;
    const char* c = ParseDecimal(value, &entry.width);
    while (*c == 'x') ++c;
    c = ParseDecimal(c, &entry.height);
    while (*c == ';') ++c;
    entry.name = c;
    return entry;
}

void OfferSplashCandidate(SplashChoice* choice, const char* value) {
    // An entry written without "=" means the same as one with an empty value.
    SplashEntry entry = ParseSplashEntry(value != NULL ? value : "");
    bool take;
    if (choice->resourceName == NULL) {
        take = true;
    } else if (entry.width > choice->screenWidth || entry.height > choice->screenHeight) {
        take = false;
    } else {
        take = entry.width > choice->width || entry.height > choice->height;
    }
    if (!take) return;
    choice->resourceName = entry.name;
    choice->width = entry.width;
    choice->height = entry.height;
}

bool AnyOfferedBitmapPresent(const SplashConfig* config, SplashBitmapPresent present, void* context) {
    for (int32_t i = 0; i < config->count; ++i) {
        if (std::strcmp(config->keys[i], kSplashKey) != 0) continue;
        SplashEntry entry = ParseSplashEntry(config->values[i] != NULL ? config->values[i] : "");
        char16_t* name = text::Widen(entry.name, -1);
        bool found = present(name, context);
        std::free(name);
        if (found) return true;
    }
    return false;
}

SplashChoice* ChooseSplashForScreen(const SplashConfig* config, int32_t screenWidth, int32_t screenHeight) {
    auto* choice = static_cast<SplashChoice*>(std::malloc(sizeof(SplashChoice)));
    choice->resourceName = NULL;
    choice->width = 0;
    choice->height = 0;
    choice->screenWidth = screenWidth;
    choice->screenHeight = screenHeight;
    // A title entry without "=" is an empty title rather than no text at all.
    const char* title = FindSplashValue(config, kSplashTitleKey, kDefaultSplashTitle);
    choice->title = title != NULL ? title : "";

    for (int32_t i = 0; i < config->count; ++i) {
        if (std::strcmp(config->keys[i], kSplashKey) == 0) OfferSplashCandidate(choice, config->values[i]);
    }
    if (choice->resourceName == NULL) {
        std::free(choice);
        return NULL;
    }
    return choice;
}

}  // namespace splash
