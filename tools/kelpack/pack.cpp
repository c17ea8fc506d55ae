#include "pack.h"

#include <cstdio>

#include "bmp.h"
#include "fileio.h"
#include "ico.h"
#include "launcher_view.h"
#include "package.h"
#include "splash/config.h"

namespace kelpack {

namespace {

std::string dir_name(const std::string& path) {
    std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::vector<std::uint8_t> to_bytes(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }

// Collects problems so that one run reports all of them.
struct Checks {
    PackResult* result;
    bool read_failed = false;
    bool rejected = false;
    void unreadable(const std::string& file, const std::string& why) {
        result->errors.push_back(file + ": cannot read: " + why);
        read_failed = true;
    }
    void reject(const std::string& file, const std::string& why) {
        result->errors.push_back(file + ": " + why);
        rejected = true;
    }
    void warn(const std::string& text) { result->warnings.push_back(text); }
};

// Reads and checks one splash bitmap file.
bool load_bitmap(Checks* c, const std::string& file, std::vector<std::uint8_t>* bytes, BmpInfo* info) {
    std::string why;
    if (!read_file(file, bytes, &why)) {
        c->unreadable(file, why);
        return false;
    }
    if (!check_bitmap(*bytes, info, &why)) {
        c->reject(file, "the launcher cannot show this bitmap: " + why + "; " + bitmap_conversion_hint(file));
        return false;
    }
    return true;
}

}  // namespace

bool parse_size(const std::string& s, std::uint32_t* w, std::uint32_t* h) {
    std::size_t x = s.find('x');
    if (x == std::string::npos || x == 0 || x + 1 >= s.size()) return false;
    auto num = [](const std::string& t, std::uint32_t* v) {
        if (t.empty() || t.size() > 5) return false;
        std::uint32_t n = 0;
        for (char c : t) {
            if (c < '0' || c > '9') return false;
            n = n * 10 + static_cast<std::uint32_t>(c - '0');
        }
        *v = n;
        return n >= 1 && n <= 65535;
    };
    return num(s.substr(0, x), w) && num(s.substr(x + 1), h);
}

std::string base_name(const std::string& path) {
    std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool parse_splash_option(const std::string& text, SplashOption* out, std::string* error) {
    *out = SplashOption();
    std::string rest = text;
    std::size_t colon = rest.find(':');
    if (colon != std::string::npos && parse_size(rest.substr(0, colon), &out->width, &out->height)) {
        out->has_size = true;
        rest = rest.substr(colon + 1);
    } else if (colon != std::string::npos && rest.substr(0, colon).find('x') != std::string::npos &&
               rest.substr(0, colon).find_first_not_of("0123456789x") == std::string::npos) {
        *error = "\"" + text + "\": the size must be WIDTHxHEIGHT with each 1 to 65535";
        return false;
    }
    // A name follows the last ':' unless that ':' belongs to a drive letter
    // ("C:\...") or the part after it is a path.
    std::size_t last = rest.rfind(':');
    if (last != std::string::npos && !(last == 1 && rest.size() > 2 && (rest[2] == '\\' || rest[2] == '/'))) {
        std::string name = rest.substr(last + 1);
        if (name.find_first_of("/\\") == std::string::npos) {
            out->name = name;
            rest = rest.substr(0, last);
        }
    }
    out->file = rest;
    if (out->file.empty()) {
        *error = "\"" + text + "\": no bitmap file given";
        return false;
    }
    if (out->name.empty()) out->name = base_name(out->file);
    return true;
}

PackResult run_pack(const PackOptions& o) {
    PackResult result;
    Checks c{&result};
    if (same_file(o.input, o.output)) {
        result.errors.push_back(o.output + ": is the input; kelpack never changes its input, choose another output");
        result.exit_code = kExitUsage;
        return result;
    }

    std::vector<std::uint8_t> bytes;
    std::string why;
    if (!read_file(o.input, &bytes, &why)) {
        result.errors.push_back(o.input + ": cannot read: " + why);
        result.exit_code = kExitRead;
        return result;
    }
    PeImage image;
    ResourceList res;
    if (!parse_pe(std::move(bytes), &image, &why) || !read_resources(image, &res, &why)) {
        result.errors.push_back(o.input + ": " + why);
        result.exit_code = kExitBadImage;
        return result;
    }

    if (!o.app_file.empty()) {
        std::vector<std::uint8_t> app;
        if (read_file(o.app_file, &app, &why)) {
            if (app.empty()) c.warn(o.app_file + ": the application package is empty");
            put_resource(&res, app_type(), app_name(), std::move(app));
        } else {
            c.unreadable(o.app_file, why);
        }
    }

    if (o.has_command_line) {
        std::string warning;
        if (!check_command_line(o.command_line, &why, &warning)) c.reject("--command-line", why);
        else put_resource(&res, text_type(), command_line_name(), to_bytes(o.command_line));
        if (!warning.empty()) c.warn("--command-line: " + warning);
    }

    if (!o.icon_file.empty()) {
        std::vector<std::uint8_t> ico;
        std::vector<IconImage> images;
        if (!read_file(o.icon_file, &ico, &why)) c.unreadable(o.icon_file, why);
        else if (!parse_ico(ico, &images, &why)) c.reject(o.icon_file, why);
        else put_icon_group(&res, kIconGroupId, images);
    }

    if (o.has_title && !check_title(o.title, &why)) c.reject("--title", why);

    // Bitmaps given by name; they may serve a --config file or the default
    // configuration.
    std::vector<std::string> packed_names;
    auto add_bitmap = [&](const std::string& name, const std::string& file) {
        std::string err;
        if (!check_splash_name(name, &err)) {
            c.reject(file, err);
            return;
        }
        for (const std::string& n : packed_names) {
            if (res_id_matches(res_name_upper(n), res_name_upper(name))) {
                c.reject(file, "the bitmap name \"" + name + "\" is given twice (names ignore letter case)");
                return;
            }
        }
        std::vector<std::uint8_t> bmp;
        BmpInfo info;
        if (!load_bitmap(&c, file, &bmp, &info)) return;
        packed_names.push_back(name);
        put_resource(&res, splash_type(), res_name_upper(name), std::move(bmp));
    };
    for (const BitmapOption& b : o.bitmaps) add_bitmap(b.name, b.file);

    // The configuration text, when this run writes one.
    bool write_config = false;
    std::string config;
    std::string config_origin;
    if (!o.config_file.empty()) {
        std::vector<std::uint8_t> text;
        if (!read_file(o.config_file, &text, &why)) {
            c.unreadable(o.config_file, why);
        } else {
            config.assign(text.begin(), text.end());
            // Editors end files with a newline; the launcher would read it as
            // part of the last value.
            while (!config.empty() && (config.back() == '\n' || config.back() == '\r')) config.pop_back();
            if (config.find('\0') != std::string::npos) c.reject(o.config_file, "it has a NUL byte, which ends the configuration early");
            else if (config.find_first_of("\r\n") != std::string::npos)
                c.reject(o.config_file, "it has a line break inside; entries are separated by \"|\" on one line");
            write_config = true;
            config_origin = o.config_file;
            // Bitmaps the file names and no --bitmap gave are looked for next to it.
            for (const ConfigEntry& e : split_config(config)) {
                if (e.key != splash::kSplashKey || !e.has_value) continue;
                std::string name = parse_splash_value(e.value).name;
                bool given = false;
                for (const std::string& n : packed_names) given = given || res_id_matches(res_name_upper(n), res_name_upper(name));
                if (given || !check_splash_name(name, &why)) continue;
                std::string beside = dir_name(o.config_file) + name;
                std::vector<std::uint8_t> probe;
                if (read_file(beside, &probe, &why)) add_bitmap(name, beside);
            }
        }
    } else if (!o.splashes.empty()) {
        std::vector<SplashEntry> entries;
        for (const SplashOption& s : o.splashes) {
            std::size_t before = packed_names.size();
            add_bitmap(s.name, s.file);
            if (packed_names.size() == before) continue;
            const Resource* r = find_resource(res, splash_type(), res_name_upper(s.name));
            BmpInfo info;
            check_bitmap(r->data, &info, &why);
            SplashEntry e;
            e.width = s.has_size ? s.width : static_cast<std::uint32_t>(info.width);
            e.height = s.has_size ? s.height : static_cast<std::uint32_t>(info.height);
            e.name = s.name;
            entries.push_back(e);
        }
        write_config = true;
        config = build_config(entries, o.has_title ? &o.title : nullptr);
        config_origin = "--splash";
    } else if (o.has_title) {
        // A new title for the configuration the launcher already carries.
        write_config = true;
        config_origin = "--title";
        std::vector<ConfigEntry> entries;
        if (const Resource* old = find_resource(res, text_type(), config_name()))
            entries = split_config(std::string(old->data.begin(), old->data.end()));
        else
            c.warn("--title: the launcher has no splash configuration; the new one names no splash bitmap, so none is shown");
        std::string text;
        for (const ConfigEntry& e : entries) {
            if (e.key == splash::kSplashTitleKey || (e.key.empty() && !e.has_value && entries.size() == 1)) continue;
            if (!text.empty()) text += '|';
            text += e.key + (e.has_value ? "=" + e.value : "");
        }
        config = text + (text.empty() ? "" : "|") + splash::kSplashTitleKey + "=" + o.title;
    }
    if (o.has_title && !o.config_file.empty()) c.reject("--title", "cannot be combined with --config; put the title in the file");

    if (write_config) put_resource(&res, text_type(), config_name(), to_bytes(config));

    // What the launcher will read: every bitmap the configuration names. A
    // configuration this run wrote must be complete; one kept from the
    // launcher (or the default one, once bitmaps were given for it) is only
    // warned about.
    {
        const Resource* cfg = find_resource(res, text_type(), config_name());
        std::string text = cfg ? std::string(cfg->data.begin(), cfg->data.end()) : std::string(splash::kDefaultSplashConfig);
        std::string where = write_config ? config_origin : cfg ? "the launcher's CONFIG" : "the default configuration";
        bool strict = write_config && config_origin != "--title";
        bool care = write_config || cfg || !packed_names.empty();
        bool any = false;
        for (const ConfigEntry& e : split_config(text)) {
            if (e.key != splash::kSplashKey || !e.has_value) continue;
            any = true;
            SplashEntry s = parse_splash_value(e.value);
            const Resource* r = find_launcher_resource(res, splash_type(), s.name);
            if (!r) {
                std::string msg = "names the splash bitmap \"" + s.name + "\", which is not packed (give it with --bitmap " +
                                  s.name + "=FILE)";
                if (strict) c.reject(where, msg);
                else if (care) c.warn(where + ": " + msg);
                continue;
            }
            BmpInfo info;
            if (!check_bitmap(r->data, &info, &why)) {
                c.warn(where + ": the packed bitmap \"" + s.name + "\" will not be shown: " + why);
                continue;
            }
            if (s.width != static_cast<std::uint32_t>(info.width) || s.height != static_cast<std::uint32_t>(info.height))
                c.warn(where + ": the entry for \"" + s.name + "\" says " + std::to_string(s.width) + "x" +
                       std::to_string(s.height) + " but the bitmap is " + std::to_string(info.width) + "x" +
                       std::to_string(info.height) + "; the launcher chooses by the configured size and shows the bitmap at its own");
        }
        if (strict && !any && !c.rejected && !c.read_failed) c.warn(where + ": the configuration names no splash bitmap, so none is shown");
    }

    if (c.read_failed || c.rejected) {
        result.exit_code = c.read_failed ? kExitRead : kExitRejected;
        return result;
    }

    std::vector<std::uint8_t> out;
    RsrcPlacement placement;
    if (!write_resources(image, res, &out, &placement, &result.warnings, &why)) {
        result.errors.push_back(o.input + ": " + why);
        result.exit_code = kExitBadImage;
        return result;
    }
    // What was written is read back as any reader of the launcher would,
    // before it takes the output's name: an image that does not read back
    // as written is a launcher no loader accepts.
    auto reads_back = [&](const std::vector<std::uint8_t>& back, std::string* reason) {
        return check_written_image(back, res, reason);
    };
    switch (write_file_checked(o.output, out, o.input, reads_back, &why)) {
        case WriteOutcome::kWritten:
            break;
        case WriteOutcome::kRefused:
            result.errors.push_back(o.input + ": the packed copy does not read back as written: " + why);
            result.exit_code = kExitBadImage;
            return result;
        case WriteOutcome::kFailed:
            result.errors.push_back(o.output + ": " + why);
            result.exit_code = kExitWrite;
            return result;
    }
    const char* where = placement == RsrcPlacement::kAppended ? "in a new .rsrc section"
                        : placement == RsrcPlacement::kNone  ? "(no resources)"
                                                             : "in the resource section";
    result.summary = "wrote " + o.output + ": " + std::to_string(res.size()) + " resources " + where + ", " +
                     std::to_string(out.size()) + " bytes";
    return result;
}

}  // namespace kelpack
