#include "launcher_view.h"

#include <cstdlib>
#include <cstring>

#include "copy_contents.h"
#include "fileio.h"
#include "pack.h"
#include "text/text.h"

namespace kelpack {

bool ReadLauncherFile(const std::string& path, PeImage* image, ResourceList* res, std::string* error, int* exitCode) {
    std::vector<std::uint8_t> bytes;
    std::string why;
    if (!ReadFile(path, &bytes, &why)) {
        *error = path + ": cannot read: " + why;
        *exitCode = kExitRead;
        return false;
    }
    if (!ParsePe(std::move(bytes), image, &why) || !ReadResources(*image, res, &why)) {
        *error = path + ": " + why;
        *exitCode = kExitBadImage;
        return false;
    }
    return true;
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

splash::SplashConfig* LauncherSplashConfig(const ResourceList& res, bool* packed) {
    const Resource* config = FindResource(res, TextType(), ConfigName());
    *packed = config != nullptr;
    if (config == nullptr)
        return splash::ParseSplashConfig(splash::kDefaultSplashConfig,
                                         static_cast<std::uint32_t>(std::strlen(splash::kDefaultSplashConfig)));
    return splash::ParseSplashConfig(reinterpret_cast<const char*>(config->data.data()),
                                     static_cast<std::uint32_t>(config->data.size()));
}

SplashOutcome SplashForScreen(const ResourceList& res, const splash::SplashConfig* config, std::int32_t width,
                              std::int32_t height) {
    SplashOutcome o;
    o.screenWidth = width;
    o.screenHeight = height;
    splash::SplashChoice* choice = splash::ChooseSplashForScreen(config, width, height);
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

}  // namespace kelpack
