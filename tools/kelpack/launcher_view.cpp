#include "launcher_view.h"

#include <cstdlib>
#include <cstring>

#include "package.h"
#include "text/text.h"

namespace kelpack {

ResId launcher_lookup_name(const std::string& name) {
    // "#123" asks the platform for the integer id 123.
    if (name.size() > 1 && name[0] == '#' && name.find_first_not_of("0123456789", 1) == std::string::npos &&
        name.size() <= 6) {
        unsigned long id = std::strtoul(name.c_str() + 1, nullptr, 10);
        if (id <= 0xFFFF) return res_id(static_cast<std::uint32_t>(id));
    }
    ResId id;
    id.is_name = true;
    char16_t* wide = text::Widen(name.c_str(), static_cast<std::int32_t>(std::strlen(name.c_str())));
    id.name = wide;
    std::free(wide);
    return id;
}

const Resource* find_launcher_resource(const ResourceList& res, const ResId& type, const std::string& name) {
    return find_resource(res, type, launcher_lookup_name(name));
}

splash::SplashConfig* launcher_splash_config(const ResourceList& res, bool* packed) {
    const Resource* config = find_resource(res, text_type(), config_name());
    *packed = config != nullptr;
    if (config == nullptr)
        return splash::ParseSplashConfig(splash::kDefaultSplashConfig,
                                         static_cast<std::uint32_t>(std::strlen(splash::kDefaultSplashConfig)));
    return splash::ParseSplashConfig(reinterpret_cast<const char*>(config->data.data()),
                                     static_cast<std::uint32_t>(config->data.size()));
}

SplashOutcome splash_for_screen(const ResourceList& res, const splash::SplashConfig* config, std::int32_t width,
                                std::int32_t height) {
    SplashOutcome o;
    o.screen_width = width;
    o.screen_height = height;
    splash::SplashChoice* choice = splash::ChooseSplashForScreen(config, width, height);
    if (choice == nullptr) {
        const char* title = splash::FindSplashValue(config, splash::kSplashTitleKey, splash::kDefaultSplashTitle);
        o.title = title != nullptr ? title : "";
        return o;
    }
    o.chosen = true;
    o.name = choice->resourceName;
    o.entry_width = choice->width;
    o.entry_height = choice->height;
    o.title = choice->title;
    std::free(choice);
    if (const Resource* bitmap = find_launcher_resource(res, splash_type(), o.name)) {
        o.present = true;
        o.decodes = launcher_decodes(bitmap->data, &o.bitmap, &o.problem);
    }
    return o;
}

}  // namespace kelpack
