// Fuzzes the splash configuration: the parse of any text, then the choice
// for a few screens (the device's, and sizes a device never reports). The text lies at the end of a block of exactly its
// length, with no terminator, as a resource does.
//
// Besides the sanitizers: the entries put back together with their "=" and
// "|" give the text up to its first NUL; a choice exists exactly when a
// "SplashScreen" entry does, and it is that of one of them, with the title
// the first "SplashScreenTitle" entry gives.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "splash/config.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckChoice(const splash::SplashConfig* config, const splash::SplashChoice* choice, int32_t screenWidth,
                 int32_t screenHeight) {
    bool anySplash = false;
    const char* title = nullptr;
    bool titleSeen = false;
    for (int32_t i = 0; i < config->count; ++i) {
        if (std::strcmp(config->keys[i], "SplashScreen") == 0) anySplash = true;
        if (!titleSeen && std::strcmp(config->keys[i], "SplashScreenTitle") == 0) {
            titleSeen = true;
            title = config->values[i] != nullptr ? config->values[i] : "";
        }
    }
    Check((choice != nullptr) == anySplash);
    if (choice == nullptr) return;
    Check(choice->screenWidth == screenWidth && choice->screenHeight == screenHeight);
    Check(std::strcmp(choice->title, titleSeen ? title : splash::kDefaultSplashTitle) == 0);
    // The name taken is the tail of one splash entry's value, with the size that value gives.
    bool found = false;
    for (int32_t i = 0; i < config->count && !found; ++i) {
        if (std::strcmp(config->keys[i], "SplashScreen") != 0) continue;
        const char* value = config->values[i] != nullptr ? config->values[i] : "";
        splash::SplashEntry entry = splash::ParseSplashEntry(value);
        if (entry.name == choice->resourceName ||
            (config->values[i] == nullptr && *choice->resourceName == 0)) {
            found = entry.width == choice->width && entry.height == choice->height;
        }
    }
    Check(found);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    auto* bytes = static_cast<char*>(std::malloc(size > 0 ? size : 1));
    if (size > 0) std::memcpy(bytes, data, size);
    const uint32_t length = static_cast<uint32_t>(size);

    splash::SplashConfig* config = splash::ParseSplashConfig(bytes, length);
    std::string text(bytes, size);
    text = text.c_str();
    Check(config->count >= 1);
    std::string joined;
    for (int32_t i = 0; i < config->count; ++i) {
        if (i > 0) joined += '|';
        joined += config->keys[i];
        if (config->values[i] != nullptr) joined += '=' + std::string(config->values[i]);
    }
    Check(joined == text);

    static const int32_t kScreens[][2] = {{240, 320}, {320, 240}, {480, 640}, {0, 0}, {INT32_MAX, INT32_MAX}, {-1, -1}};
    for (const auto& screen : kScreens) {
        splash::SplashChoice* choice = splash::ChooseSplashForScreen(config, screen[0], screen[1]);
        CheckChoice(config, choice, screen[0], screen[1]);
        std::free(choice);
    }
    // Whether an offered bitmap is present agrees with the choice: with every
    // name present it is exactly when some entry exists, with none never.
    struct Lookup {
        static bool All(const char16_t*, void*) { return true; }
        static bool None(const char16_t*, void*) { return false; }
    };
    splash::SplashChoice* any = splash::ChooseSplashForScreen(config, 240, 320);
    Check(splash::AnyOfferedBitmapPresent(config, Lookup::All, nullptr) == (any != nullptr));
    Check(!splash::AnyOfferedBitmapPresent(config, Lookup::None, nullptr));
    std::free(any);
    splash::FreeSplashConfig(config);

    // No text at all gives a record without entries.
    splash::SplashConfig* none = splash::ParseSplashConfig(nullptr, length);
    Check(none->count == 0 && none->keys == nullptr && none->values == nullptr);
    splash::FreeSplashConfig(none);
    std::free(bytes);
    return 0;
}
