#include "show.h"

#include <cstdio>
#include <set>

#include "bmp.h"
#include "splash/config.h"
#include "byteio.h"
#include "fileio.h"
#include "pack.h"
#include "package.h"

namespace kelpack {

namespace {

std::string pad(const std::string& s, std::size_t n) { return s.size() >= n ? s + " " : s + std::string(n - s.size(), ' '); }

std::string hex32(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", v);
    return buf;
}

}  // namespace

std::string printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
    }
    return out;
}

std::string json_string(const std::string& s) { return json_text(s, false); }

std::string json_text(const std::string& s, bool utf8) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F || (c >= 0x80 && !utf8)) {
                    // Resource text is bytes with no character set; each byte is
                    // given as the code point of the same value.
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

bool make_show_report(const std::string& path, ShowReport* r, std::string* error, int* exit_code) {
    *r = ShowReport();
    r->file = path;
    std::vector<std::uint8_t> bytes;
    std::string why;
    if (!read_file(path, &bytes, &why)) {
        *error = path + ": cannot read: " + why;
        *exit_code = kExitRead;
        return false;
    }
    PeImage image;
    if (!parse_pe(std::move(bytes), &image, &why) || !read_resources(image, &r->resources, &why)) {
        *error = path + ": " + why;
        *exit_code = kExitBadImage;
        return false;
    }
    sort_resources(&r->resources);
    r->format = image.pe32plus ? "PE32+" : "PE32";
    r->machine = machine_name(image.machine);
    r->sections = image.sections;
    r->signed_image = image.dirs.size() > kDirSecurity && image.dirs[kDirSecurity].size != 0;
    const ResourceList& res = r->resources;

    if (const Resource* app = find_resource(res, app_type(), app_name())) {
        r->has_app = true;
        r->app_size = app->data.size();
    }
    if (const Resource* cl = find_resource(res, text_type(), command_line_name())) {
        r->has_command_line = true;
        std::string text(cl->data.begin(), cl->data.end());
        std::size_t cut = text.find_first_of(std::string("\0\n\r", 3));
        r->command_line_cut = cut != std::string::npos && cut + 1 < text.size();
        r->command_line = text.substr(0, cut);
    }
    splash::SplashConfig* config = launcher_splash_config(res, &r->has_config);
    // The text the launcher parses ends at its first NUL.
    for (std::int32_t i = 0; i < config->count; ++i) r->config_text += std::string(i ? "|" : "") + config->keys[i] +
                                                                        (config->values[i] ? std::string("=") + config->values[i] : "");
    const char* title = splash::FindSplashValue(config, splash::kSplashTitleKey, splash::kDefaultSplashTitle);
    // A title entry without "=" titles the window with nothing.
    r->title = title != nullptr ? title : "";
    for (std::int32_t i = 0; i < config->count; ++i) {
        ShownEntry s;
        s.key = config->keys[i];
        s.has_value = config->values[i] != nullptr;
        if (s.has_value) s.value = config->values[i];
        if (s.key == splash::kSplashKey && s.has_value) {
            s.is_splash = true;
            splash::SplashEntry v = splash::ParseSplashEntry(config->values[i]);
            s.width = static_cast<std::uint32_t>(v.width);
            s.height = static_cast<std::uint32_t>(v.height);
            s.bitmap = v.name;
            if (const Resource* bmp = find_launcher_resource(res, splash_type(), s.bitmap)) {
                s.bitmap_present = true;
                BmpInfo info;
                s.bitmap_valid = launcher_decodes(bmp->data, &info, &s.bitmap_problem);
                s.bitmap_width = info.width;
                s.bitmap_height = info.height;
                s.bitmap_bits = info.bit_count;
                s.bitmap_rows = info.rows_present;
            }
        }
        r->entries.push_back(s);
    }
    for (const ScreenSize& screen : kCommonScreens)
        r->screens.push_back(splash_for_screen(res, config, screen.width, screen.height));
    splash::FreeSplashConfig(config);
    if (const Resource* g = find_resource(res, res_id(kRtGroupIcon), res_id(kIconGroupId))) {
        r->has_icon_group = true;
        std::uint16_t n = 0;
        read_u16(g->data, 4, &n);
        for (std::uint32_t i = 0; i < n; ++i) {
            std::uint16_t id = 0;
            if (!read_u16(g->data, 6 + 14ull * i + 12, &id)) break;
            ++r->icon_images;
            if (!find_resource(res, res_id(kRtIcon), res_id(id))) ++r->icon_images_missing;
        }
    }
    return true;
}

std::string splash_outcome_text(const SplashOutcome& o) {
    if (!o.chosen) return "no splash: the configuration has no SplashScreen entry";
    std::string t = "\"" + printable(o.name) + "\" (entry " + std::to_string(o.entry_width) + "x" + std::to_string(o.entry_height) + ")";
    if (!o.present) return t + ": not packed, so no splash is shown";
    if (!o.decodes) return t + ": does not decode (" + o.problem + "), so no splash is shown";
    t += ": decodes, " + std::to_string(o.bitmap.width) + "x" + std::to_string(o.bitmap.height) + " " +
         std::to_string(o.bitmap.bit_count) + "-bit";
    if (o.bitmap.rows_present < static_cast<std::uint32_t>(o.bitmap.height))
        t += ", only " + std::to_string(o.bitmap.rows_present) + " of its rows present";
    if (o.bitmap.width > o.screen_width || o.bitmap.height > o.screen_height) t += ", larger than the screen";
    return t;
}

std::string splash_outcome_json(const SplashOutcome& o) {
    auto num = [](std::int64_t v) { return std::to_string(v); };
    auto boolean = [](bool b) { return std::string(b ? "true" : "false"); };
    std::string j = "{\"screen_width\": " + num(o.screen_width) + ", \"screen_height\": " + num(o.screen_height) +
                    ", \"bitmap\": " + (o.chosen ? json_string(o.name) : std::string("null"));
    if (o.chosen) {
        j += ", \"entry_width\": " + num(o.entry_width) + ", \"entry_height\": " + num(o.entry_height) +
             ", \"title\": " + json_string(o.title) + ", \"present\": " + boolean(o.present) + ", \"decodes\": " + boolean(o.decodes);
        if (o.decodes)
            j += ", \"bitmap_width\": " + num(o.bitmap.width) + ", \"bitmap_height\": " + num(o.bitmap.height) +
                 ", \"bitmap_bits\": " + num(o.bitmap.bit_count) + ", \"rows_present\": " + num(o.bitmap.rows_present);
        else if (o.present)
            j += ", \"problem\": " + json_string(o.problem);
    }
    return j + "}";
}

std::string show_text(const ShowReport& r) {
    std::string t = r.file + ": " + r.format + " " + r.machine + ", " + std::to_string(r.sections.size()) + " sections" +
                    (r.signed_image ? ", signed" : "") + "\n";
    t += "\nResources (" + std::to_string(r.resources.size()) + "):\n";
    t += "  " + pad("TYPE", 22) + pad("NAME", 26) + pad("LANG", 7) + "SIZE\n";
    for (const Resource& x : r.resources)
        t += "  " + pad(res_id_text(x.type, true), 22) + pad(res_id_text(x.name, false), 26) + pad(std::to_string(x.lang), 7) +
             std::to_string(x.data.size()) + "\n";

    t += "\nApplication package: ";
    t += r.has_app ? std::to_string(r.app_size) + " bytes\n" : "none (no KELFILE/KEL-APPLICATION.KEL)\n";
    t += "Command line: ";
    if (!r.has_command_line) t += "none; the launcher passes the user's command line on as it is\n";
    else t += "\"" + printable(r.command_line) + "\"" + (r.command_line_cut ? " (the resource goes on after a NUL, LF or CR; the launcher ignores the rest)" : "") + "\n";
    t += "Icon group 50: ";
    if (!r.has_icon_group) t += "none\n";
    else t += std::to_string(r.icon_images) + " images" + (r.icon_images_missing ? ", " + std::to_string(r.icon_images_missing) + " of them missing" : "") + "\n";

    t += "\nSplash configuration (" + std::string(r.has_config ? "CONFIG resource" : "none packed; the launcher's default") + "):\n";
    for (const ShownEntry& e : r.entries) {
        t += "  " + printable(e.key) + (e.has_value ? "=" + printable(e.value) : "");
        if (e.is_splash) {
            if (!e.bitmap_present) t += "  -> bitmap missing";
            else if (!e.bitmap_valid) t += "  -> bitmap not accepted: " + e.bitmap_problem;
            else {
                t += "  -> " + std::to_string(e.bitmap_width) + "x" + std::to_string(e.bitmap_height) + ", " +
                     std::to_string(e.bitmap_bits) + "-bit";
                if (static_cast<std::int64_t>(e.width) != e.bitmap_width || static_cast<std::int64_t>(e.height) != e.bitmap_height)
                    t += " (differs from the configured size)";
                if (e.bitmap_rows < static_cast<std::uint32_t>(e.bitmap_height))
                    t += ", only " + std::to_string(e.bitmap_rows) + " rows present (the rest show blank)";
            }
        }
        t += "\n";
    }
    t += "Title: \"" + printable(r.title) + "\"\n";
    t += "\nSplash by screen:\n";
    for (const SplashOutcome& o : r.screens) t += "  " + pad(std::to_string(o.screen_width) + "x" + std::to_string(o.screen_height), 9) + splash_outcome_text(o) + "\n";
    t += "\nSections:\n";
    for (const PeSection& s : r.sections)
        t += "  " + pad(printable(s.name), 10) + "RVA " + hex32(s.virtual_address) + "  size " + hex32(s.virtual_size) +
             "  file " + hex32(s.raw_offset) + " +" + hex32(s.raw_size) + "\n";
    return t;
}

std::string show_json(const ShowReport& r) {
    auto num = [](std::int64_t v) { return std::to_string(v); };
    auto boolean = [](bool b) { return std::string(b ? "true" : "false"); };
    auto id_json = [](const ResId& id) {
        return id.is_name ? json_text(utf16_to_utf8(id.name), true) : std::to_string(id.id);
    };
    std::string j = "{\n";
    j += "  \"file\": " + json_string(r.file) + ",\n";
    j += "  \"format\": " + json_string(r.format) + ",\n";
    j += "  \"machine\": " + json_string(r.machine) + ",\n";
    j += "  \"signed\": " + boolean(r.signed_image) + ",\n";
    j += "  \"sections\": [";
    for (std::size_t i = 0; i < r.sections.size(); ++i) {
        const PeSection& s = r.sections[i];
        j += std::string(i ? ", " : "") + "{\"name\": " + json_string(s.name) + ", \"rva\": " + num(s.virtual_address) +
             ", \"virtual_size\": " + num(s.virtual_size) + ", \"file_offset\": " + num(s.raw_offset) +
             ", \"file_size\": " + num(s.raw_size) + "}";
    }
    j += "],\n  \"resources\": [";
    for (std::size_t i = 0; i < r.resources.size(); ++i) {
        const Resource& x = r.resources[i];
        j += std::string(i ? "," : "") + "\n    {\"type\": " + id_json(x.type) + ", \"name\": " + id_json(x.name) +
             ", \"lang\": " + num(x.lang) + ", \"size\": " + num(static_cast<std::int64_t>(x.data.size())) + "}";
    }
    j += "\n  ],\n";
    j += "  \"application_size\": " + (r.has_app ? num(static_cast<std::int64_t>(r.app_size)) : std::string("null")) + ",\n";
    j += "  \"command_line\": " + (r.has_command_line ? json_string(r.command_line) : std::string("null")) + ",\n";
    j += "  \"command_line_cut\": " + boolean(r.command_line_cut) + ",\n";
    j += "  \"icon_group_50\": " + (r.has_icon_group ? "{\"images\": " + num(r.icon_images) + ", \"missing\": " + num(r.icon_images_missing) + "}" : std::string("null")) + ",\n";
    j += "  \"config_packed\": " + boolean(r.has_config) + ",\n";
    j += "  \"config_text\": " + json_string(r.config_text) + ",\n";
    j += "  \"config_entries\": [";
    for (std::size_t i = 0; i < r.entries.size(); ++i) {
        const ShownEntry& e = r.entries[i];
        j += std::string(i ? "," : "") + "\n    {\"key\": " + json_string(e.key) + ", \"value\": " +
             (e.has_value ? json_string(e.value) : std::string("null"));
        if (e.is_splash) {
            j += ", \"width\": " + num(e.width) + ", \"height\": " + num(e.height) + ", \"bitmap\": " + json_string(e.bitmap) +
                 ", \"bitmap_present\": " + boolean(e.bitmap_present) + ", \"bitmap_valid\": " + boolean(e.bitmap_valid);
            if (e.bitmap_valid)
                j += ", \"bitmap_width\": " + num(e.bitmap_width) + ", \"bitmap_height\": " + num(e.bitmap_height) +
                     ", \"bitmap_bits\": " + num(e.bitmap_bits) + ", \"bitmap_rows\": " + num(e.bitmap_rows);
            else if (e.bitmap_present)
                j += ", \"bitmap_problem\": " + json_string(e.bitmap_problem);
        }
        j += "}";
    }
    j += "\n  ],\n";
    j += "  \"title\": " + json_string(r.title) + ",\n";
    j += "  \"screens\": [";
    for (std::size_t i = 0; i < r.screens.size(); ++i) j += std::string(i ? "," : "") + "\n    " + splash_outcome_json(r.screens[i]);
    j += "\n  ]\n";
    j += "}\n";
    return j;
}

}  // namespace kelpack
