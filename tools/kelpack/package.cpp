#include "package.h"

namespace kelpack {

ResId app_type() { return res_name_upper("KELFILE"); }
ResId app_name() { return res_name_upper("KEL-APPLICATION.KEL"); }
ResId text_type() { return res_name_upper("Text"); }
ResId command_line_name() { return res_name_upper("CommandLine"); }
ResId config_name() { return res_name_upper("CONFIG"); }
ResId splash_type() { return res_name_upper("SplashScreen"); }

const char kDefaultSplashConfig[] =
    "SplashScreen=150x150;Splash.bmp|SplashScreen=300x300;Splash300.bmp|SplashScreenTitle=The Big Splash Screen";
const char kDefaultSplashTitle[] = "My Splash Screen";

std::vector<ConfigEntry> split_config(const std::string& text) {
    std::string t = text.substr(0, text.find('\0'));
    std::vector<ConfigEntry> out;
    std::size_t start = 0;
    for (;;) {
        std::size_t bar = t.find('|', start);
        std::string item = t.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        ConfigEntry e;
        std::size_t eq = item.find('=');
        e.key = item.substr(0, eq);
        if (eq != std::string::npos) {
            e.has_value = true;
            e.value = item.substr(eq + 1);
        }
        out.push_back(e);
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    return out;
}

SplashEntry parse_splash_value(const std::string& v) {
    SplashEntry e;
    std::size_t i = 0;
    // Saturating, so that a long run of digits cannot wrap into a small size.
    auto number = [&](std::uint32_t* out) {
        std::uint64_t n = 0;
        while (i < v.size() && v[i] >= '0' && v[i] <= '9') {
            n = n * 10 + static_cast<std::uint64_t>(v[i] - '0');
            if (n > 0xFFFFFFFFull) n = 0xFFFFFFFFull;
            ++i;
        }
        *out = static_cast<std::uint32_t>(n);
    };
    number(&e.width);
    while (i < v.size() && v[i] == 'x') ++i;
    number(&e.height);
    while (i < v.size() && v[i] == ';') ++i;
    e.name = v.substr(i);
    return e;
}

std::string build_config(const std::vector<SplashEntry>& entries, const std::string* title) {
    std::string t;
    for (const SplashEntry& e : entries) {
        if (!t.empty()) t += '|';
        t += "SplashScreen=" + std::to_string(e.width) + "x" + std::to_string(e.height) + ";" + e.name;
    }
    if (title) {
        if (!t.empty()) t += '|';
        t += "SplashScreenTitle=" + *title;
    }
    return t;
}

bool check_splash_name(const std::string& name, std::string* error) {
    if (name.empty()) {
        *error = "the bitmap name is empty";
        return false;
    }
    for (unsigned char c : name) {
        // The launcher widens each byte on its own, so only ASCII names reach
        // the resource lookup unchanged.
        if (c < 0x20 || c > 0x7E) {
            *error = "the bitmap name \"" + name + "\" has a character outside printable ASCII";
            return false;
        }
        if (c == '|') {
            *error = "the bitmap name \"" + name + "\" has a \"|\", which separates configuration entries";
            return false;
        }
    }
    if (name[0] == ';') {
        *error = "the bitmap name \"" + name + "\" starts with \";\", which the launcher skips";
        return false;
    }
    if (name[0] == '#') {
        *error = "the bitmap name \"" + name + "\" starts with \"#\", which a resource lookup reads as a number";
        return false;
    }
    return true;
}

bool check_title(const std::string& title, std::string* error) {
    if (title.find('|') != std::string::npos) {
        *error = "the title has a \"|\", which separates configuration entries";
        return false;
    }
    if (title.find('\0') != std::string::npos) {
        *error = "the title has a NUL byte, which ends the configuration";
        return false;
    }
    return true;
}

bool check_command_line(const std::string& text, std::string* error, std::string* warning) {
    warning->clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        const char* what = c == 0 ? "a NUL" : c == '\n' ? "a line feed (LF)" : c == '\r' ? "a carriage return (CR)" : nullptr;
        if (what) {
            *error = std::string("the command line has ") + what + " at byte " + std::to_string(i + 1) +
                     "; the launcher would cut it there";
            return false;
        }
        if (c >= 0x80 && warning->empty())
            *warning = "the command line has bytes beyond ASCII; the launcher widens each byte on its own, so they "
                       "reach the engine as characters U+FF80 to U+FFFF, not as the text they encode";
    }
    return true;
}

}  // namespace kelpack
