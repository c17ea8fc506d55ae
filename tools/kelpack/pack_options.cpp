#include "pack_options.h"

#include "fileio.h"
#include "options.h"

namespace kelpack {

namespace {

// The options pack takes; every value option but --splash and --bitmap once.
const std::vector<OptionSpec> kPackOptions = {
    {"--fit", nullptr, false, true},
    {"--allow-large", nullptr, false, true},
    {"--keep-unused", nullptr, false, true},
    {"--hi-res-aware", nullptr, false, true},
    {"--output", "-o", true, false},
    {"--app", nullptr, true, false},
    {"--command-line", nullptr, true, false},
    {"--splash", nullptr, true, true},
    {"--title", nullptr, true, false},
    {"--config", nullptr, true, false},
    {"--bitmap", nullptr, true, true},
    {"--icon", nullptr, true, false},
    {"--background", nullptr, true, false},
};

// Takes one option's value into the options; false with the reason.
bool TakePackOption(PackOptions* o, const std::string& name, const std::string& value, std::string* why) {
    if (name == "--fit") o->fit = true;
    else if (name == "--allow-large") o->allowLarge = true;
    else if (name == "--keep-unused") o->keepUnused = true;
    else if (name == "--hi-res-aware") o->hiResAware = true;
    else if (name == "--output") o->output = value;
    else if (name == "--app") o->appFile = value;
    else if (name == "--icon") o->iconFile = value;
    else if (name == "--command-line") {
        o->hasCommandLine = true;
        o->commandLine = value;
    } else if (name == "--title") {
        o->hasTitle = true;
        o->title = value;
    } else if (name == "--config") {
        o->hasConfig = true;
        o->configFile = value;
    } else if (name == "--background") {
        if (!ParseColour(value, &o->background)) {
            *why = "--background \"" + value + "\": give a colour as RRGGBB, six hex digits";
            return false;
        }
    } else if (name == "--splash") {
        SplashOption s;
        if (!ParseSplashOption(value, &s, why, IsRegularFile)) {
            *why = "--splash " + *why;
            return false;
        }
        o->splashes.push_back(s);
    } else if (name == "--bitmap") {
        std::size_t eq = value.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == value.size()) {
            *why = "--bitmap needs NAME=FILE, not \"" + value + "\"";
            return false;
        }
        o->bitmaps.push_back({value.substr(0, eq), value.substr(eq + 1)});
    }
    return true;
}

// What stands before the first ':' of a --splash is a size when it looks
// like one: two numbers (a sign allowed, to be refused) around one "x" or "X".
bool LooksLikeSize(const std::string& t) {
    std::size_t x = t.find_first_of("xX");
    auto number = [](const std::string& n) {
        std::size_t digits = !n.empty() && (n[0] == '-' || n[0] == '+') ? 1 : 0;
        return n.size() > digits && n.find_first_not_of("0123456789", digits) == std::string::npos;
    };
    return x != std::string::npos && number(t.substr(0, x)) && number(t.substr(x + 1));
}

}  // namespace

bool ParsePackArguments(const std::vector<std::string>& args, PackOptions* o, bool* help, std::string* why) {
    *o = PackOptions();
    Arguments a;
    auto take = [o](const std::string& name, const std::string& value, std::string* reason) {
        return TakePackOption(o, name, value, reason);
    };
    if (!ReadArguments(args, kPackOptions, false, take, &a, why)) return false;
    *help = a.help;
    if (a.help) return true;
    if (a.positional.size() != 1) {
        *why = a.positional.empty() ? "no launcher executable given" : "more than one launcher executable given";
        return false;
    }
    o->input = a.positional[0];
    *why = PackOptionsProblem(*o);
    return why->empty();
}

std::string PackOptionsProblem(const PackOptions& o) {
    if (o.output.empty()) return "no output given (-o OUTPUT)";
    if (o.hasConfig && !o.splashes.empty()) return "--splash and --config exclude each other";
    if (o.hasConfig && o.hasTitle) return "--title and --config exclude each other; put the title in the file";
    return std::string();
}

bool ParseSplashOption(const std::string& text, SplashOption* out, std::string* error,
                       const std::function<bool(const std::string&)>& isFile) {
    *out = SplashOption();
    std::string rest = text;
    std::size_t colon = rest.find(':');
    if (colon != std::string::npos && LooksLikeSize(rest.substr(0, colon))) {
        if (!ParseSize(rest.substr(0, colon), &out->width, &out->height)) {
            *error = "\"" + text + "\": the size must be WIDTHxHEIGHT with each 1 to 65535 (a file whose name starts "
                     "like a size is given as ./NAME)";
            return false;
        }
        out->hasSize = true;
        rest = rest.substr(colon + 1);
    }
    if (isFile && !rest.empty() && isFile(rest)) {
        out->file = rest;
        out->name = BaseName(rest);
        return true;
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
    if (out->name.empty()) out->name = BaseName(out->file);
    return true;
}

std::string SplashOptionText(const SplashOption& s) {
    std::string text = "--splash ";
    if (s.hasSize) text += std::to_string(s.width) + "x" + std::to_string(s.height) + ":";
    text += s.file;
    if (s.name != BaseName(s.file)) text += ":" + s.name;
    return text;
}

}  // namespace kelpack
