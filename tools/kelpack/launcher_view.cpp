#include "launcher_view.h"

#include <cstdlib>
#include <cstring>

#include "copy_contents.h"
#include "fileio.h"
#include "image_limits.h"
#include "outcome.h"
#include "wording.h"
#include "text/text.h"

namespace kelpack {

const std::vector<ScreenSize> kCommonScreens = {{240, 320}, {320, 240}, {240, 240}, {480, 640},
                                                {640, 480}, {480, 480}, {800, 480}};

LauncherRead ReadLauncher(const std::string& path, std::uint64_t limit, PeImage* image, ResourceList* res,
                          std::uint64_t* size, std::string* why) {
    switch (ReadWithin(path, limit, size, nullptr, why)) {
        case ReadStatus::kRead: break;
        case ReadStatus::kUnreadable: return LauncherRead::kUnreadable;
        case ReadStatus::kTooLarge: return LauncherRead::kTooLarge;
    }
    // Read as it is looked at: the application package stays in the file
    // and is copied from there; every other leaf is held.
    const ResId app = AppType();
    const bool usable = ParsePe(PeBytes(path, *size), image, why) && ReadResourceEntries(*image, res, why) &&
                        LoadLeafData(*image, res, &app, why);
    std::string failure = image->bytes.failure();
    if (!failure.empty()) {
        *why = failure;
        return LauncherRead::kUnreadable;
    }
    if (!usable) return LauncherRead::kNotUsable;
    for (Resource& r : *res)
        if (r.source.external) r.source.path = path;
    return LauncherRead::kRead;
}

bool ReadLauncherFile(const std::string& path, PeImage* image, ResourceList* res, Outcome* outcome) {
    std::uint64_t size = 0;
    std::string why;
    switch (ReadLauncher(path, kMaxPeBytes, image, res, &size, &why)) {
        case LauncherRead::kRead:
            return true;
        case LauncherRead::kUnreadable:
            outcome->Fail(kExitRead, path + ": cannot read: " + why);
            return false;
        case LauncherRead::kTooLarge:
            outcome->Fail(kExitBadImage, path + ": not a PE image kelpack reads: it is " + MibText(size) +
                                             ", more than the 4 GiB a PE image can span");
            return false;
        case LauncherRead::kNotUsable:
            outcome->Fail(kExitBadImage, path + ": " + why);
            return false;
    }
    return false;
}

ResId LauncherLookupName(const std::string& name) {
    // "#123" asks the platform for the integer id 123.
    if (name.size() > 1 && name[0] == '#' && name.find_first_not_of("0123456789", 1) == std::string::npos &&
        name.size() <= 6) {
        unsigned long id = std::strtoul(name.c_str() + 1, nullptr, 10);
        if (id <= 0xFFFF) return IntResId(static_cast<std::uint32_t>(id));
    }
    ResId id;
    id.isName = true;
    char16_t* wide = text::Widen(name.c_str(), static_cast<std::int32_t>(std::strlen(name.c_str())));
    id.name = wide;
    std::free(wide);
    return id;
}

const Resource* FindLauncherResource(const ResourceList& res, const ResId& type, const std::string& name) {
    return FindResource(res, type, LauncherLookupName(name));
}

std::string LauncherConfigText(const ResourceList& res, bool* packed) {
    const Resource* config = FindResource(res, TextType(), ConfigName());
    *packed = config != nullptr;
    return config != nullptr ? std::string(config->data.begin(), config->data.end()) : std::string(splash::kDefaultSplashConfig);
}

splash::SplashConfig* LauncherSplashConfig(const ResourceList& res, bool* packed) {
    // The parser reads the text up to its first NUL, as the launcher does.
    std::string text = LauncherConfigText(res, packed);
    return splash::ParseSplashConfig(text.data(), static_cast<std::uint32_t>(text.size()));
}

namespace {

// The launcher's resource lookup for a name it widened byte by byte.
bool PackedSplashBitmap(const char16_t* name, void* res) {
    std::string bytes;
    for (const char16_t* c = name; *c != 0; ++c) bytes += static_cast<char>(*c);
    return FindLauncherResource(*static_cast<const ResourceList*>(res), SplashType(), bytes) != nullptr;
}

}  // namespace

SplashOutcome SplashForScreen(const ResourceList& res, const splash::SplashConfig* config, std::int32_t width,
                              std::int32_t height) {
    SplashOutcome o;
    o.screenWidth = width;
    o.screenHeight = height;
    o.asksScreen = splash::AnyOfferedBitmapPresent(config, PackedSplashBitmap, const_cast<ResourceList*>(&res));
    splash::SplashChoice* choice = splash::ChooseSplashForScreen(config, width, height);
    o.offered = choice != nullptr;
    if (!o.asksScreen) {
        // The launcher stops before the screen size and the choice.
        std::free(choice);
        choice = nullptr;
    }
    if (choice == nullptr) {
        const char* title = splash::FindSplashValue(config, splash::kSplashTitleKey, splash::kDefaultSplashTitle);
        o.title = title != nullptr ? title : "";
        return o;
    }
    o.chosen = true;
    o.name = choice->resourceName;
    o.entryWidth = choice->width;
    o.entryHeight = choice->height;
    o.title = choice->title;
    std::free(choice);
    if (const Resource* bitmap = FindLauncherResource(res, SplashType(), o.name)) {
        o.present = true;
        o.decodes = LauncherDecodes(bitmap->data, &o.bitmap, &o.problem);
    }
    return o;
}

bool DoubledScreen(std::int32_t width, std::int32_t height, ScreenSize* told) {
    const ScreenSize low = width == height ? ScreenSize{240, 240} : width < height ? ScreenSize{240, 320} : ScreenSize{320, 240};
    if (width <= low.width && height <= low.height) return false;
    *told = low;
    return true;
}

std::vector<std::string> UnreachableSplashEntries(const splash::SplashConfig* config) {
    std::vector<std::int32_t> entries;
    for (std::int32_t k = 0; k < config->count; ++k)
        if (std::strcmp(config->keys[k], splash::kSplashKey) == 0) entries.push_back(k);
    if (entries.size() > kMaxEntriesJudged) return {};

    // The choice depends on the screen only through which entries fit it, and
    // that changes only where a side reaches an entry's width or height: the
    // screens whose sides are entry sizes (or 1) meet every case.
    std::vector<std::int32_t> widths = {1}, heights = {1};
    for (std::int32_t k : entries) {
        splash::SplashEntry e = splash::ParseSplashEntry(config->values[k] != nullptr ? config->values[k] : "");
        widths.push_back(e.width > 0 ? e.width : 1);
        heights.push_back(e.height > 0 ? e.height : 1);
    }
    std::vector<bool> chosen(entries.size(), false);
    for (std::int32_t w : widths)
        for (std::int32_t h : heights) {
            splash::SplashChoice* choice = splash::ChooseSplashForScreen(config, w, h);
            if (choice == nullptr) return {};
            // The name the choice holds points into the value of the entry taken.
            for (std::size_t i = 0; i < entries.size(); ++i) {
                const char* value = config->values[entries[i]];
                if (value != nullptr && choice->resourceName >= value && choice->resourceName <= value + std::strlen(value))
                    chosen[i] = true;
            }
            std::free(choice);
        }
    std::vector<std::string> never;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (!chosen[i] && config->values[entries[i]] != nullptr) never.push_back(config->values[entries[i]]);
    return never;
}

std::string CommonScreensText() {
    std::vector<std::string> screens;
    for (const ScreenSize& s : kCommonScreens) screens.push_back(SizeText(s.width, s.height));
    return Listed(screens);
}

}  // namespace kelpack
