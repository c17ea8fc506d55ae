#include "options.h"

#include <algorithm>
#include <set>

namespace kelpack {

namespace {

bool IsHelp(const std::string& a) { return a == "-h" || a == "--help"; }

// The option `arg` names, and its value when given inline ("--name=value").
const OptionSpec* Lookup(const std::vector<OptionSpec>& options, const std::string& arg, std::string* value,
                         bool* inlineValue) {
    *inlineValue = false;
    for (const OptionSpec& o : options)
        if (o.shortName != nullptr && arg == o.shortName) return &o;
    if (arg.size() < 3 || arg[0] != '-' || arg[1] != '-') return nullptr;
    std::size_t eq = arg.find('=');
    std::string name = arg.substr(0, eq);
    for (const OptionSpec& o : options) {
        if (name != o.name) continue;
        *inlineValue = eq != std::string::npos;
        *value = *inlineValue ? arg.substr(eq + 1) : std::string();
        // A flag takes no value.
        return *inlineValue && o.value == nullptr ? nullptr : &o;
    }
    return nullptr;
}

}  // namespace

bool ReadArguments(const std::vector<std::string>& args, const std::vector<OptionSpec>& options, bool takesRest,
                   const OptionHandler& handler, Arguments* out, std::string* why) {
    *out = Arguments();
    std::set<std::string> seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (takesRest && a == "--") {
            // Everything after it is the user's, options of the launcher included.
            out->hasRest = true;
            out->rest.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            return true;
        }
        if (IsHelp(a)) {
            out->help = true;
            return true;
        }
        std::string value;
        bool inlineValue = false;
        const OptionSpec* o = Lookup(options, a, &value, &inlineValue);
        if (o == nullptr) {
            if (a.size() > 1 && a[0] == '-') {
                *why = "unknown option " + a;
                return false;
            }
            out->positional.push_back(a);
            continue;
        }
        if (o->value != nullptr && !inlineValue) {
            if (i + 1 >= args.size()) {
                *why = std::string(o->name) + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (!o->repeatable && !seen.insert(o->name).second) {
            *why = std::string(o->name) + " is given twice";
            return false;
        }
        if (!handler(o->name, value, why)) return false;
    }
    return true;
}

std::string OptionHead(const OptionSpec& o) {
    std::string head = o.shortName != nullptr ? std::string(o.shortName) + ", " + o.name : o.name;
    return o.value != nullptr ? head + " " + o.value : head;
}

std::string HeadedLines(const std::vector<std::pair<std::string, std::string>>& rows, std::size_t column) {
    const std::string indent(column, ' ');
    std::string text;
    for (const auto& row : rows) {
        std::string line = "  " + row.first;
        // At least two spaces between a head and its text.
        line += line.size() + 2 > column ? "\n" + indent : std::string(column - line.size(), ' ');
        for (std::size_t at = 0, end = 0; at < row.second.size(); at = end + 1) {
            end = std::min(row.second.find('\n', at), row.second.size());
            line += (at == 0 ? "" : "\n" + indent) + row.second.substr(at, end - at);
        }
        text += line + "\n";
    }
    return text;
}

bool ParseSize(const std::string& s, std::uint32_t* w, std::uint32_t* h) {
    std::size_t x = s.find_first_of("xX");
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

}  // namespace kelpack
