#include "cli.h"

#include "explain.h"
#include "pack.h"
#include "resources.h"
#include "show.h"

namespace kelpack {

namespace {

const char kVersion[] = "kelpack 1.0";

const char kToolHelp[] =
    "kelpack: packages an application into a copy of the Kel launcher, shows\n"
    "what a launcher copy carries, and explains what it does with a command line.\n"
    "\n"
    "Usage:\n"
    "  kelpack pack LAUNCHER -o OUTPUT [options]   write a launcher copy carrying an application\n"
    "  kelpack show EXE [--json]                   list what a launcher copy carries\n"
    "  kelpack explain EXE [options] -- ARGS...    what it does when started with ARGS\n"
    "  kelpack help [COMMAND]                      this text, or a command's\n"
    "  kelpack --version\n"
    "\n"
    "Run 'kelpack COMMAND --help' for a command's options.\n"
    "\n"
    "Exit codes: 0 done; 1 bad options; 2 a file could not be read; 3 the launcher\n"
    "is not a usable PE image; 4 something to pack was rejected; 5 the output could\n"
    "not be written.\n";

const char kPackHelp[] =
    "Usage: kelpack pack LAUNCHER -o OUTPUT [options]\n"
    "\n"
    "Writes OUTPUT, a copy of the launcher executable LAUNCHER (PE32 or PE32+, any\n"
    "machine) that carries what the options give. Resources the options do not\n"
    "name are kept as they are; those they name are replaced. LAUNCHER is never\n"
    "changed, and OUTPUT is written whole or not at all. Every input is checked\n"
    "first; nothing is written when one is rejected.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE          the launcher copy to write (required)\n"
    "  --app FILE                 the application package (resource KELFILE,\n"
    "                             KEL-APPLICATION.KEL)\n"
    "  --command-line TEXT        the embedded command line (resource Text,\n"
    "                             CommandLine); no CR, LF or NUL\n"
    "  --splash [WxH:]BMP[:NAME]  a splash bitmap to offer on screens of at least\n"
    "                             WxH pixels (default: the bitmap's own size),\n"
    "                             packed as NAME (default: the file's name);\n"
    "                             repeat for each size. Writes the configuration\n"
    "                             (resource Text, CONFIG) from these and --title\n"
    "  --title TEXT               the splash window's title; alone, it changes the\n"
    "                             title of the configuration the launcher carries\n"
    "  --config FILE              the configuration text from a file, as\n"
    "                             SplashScreen=WxH;NAME|...|SplashScreenTitle=TEXT;\n"
    "                             the bitmaps it names come from --bitmap, or from\n"
    "                             files of those names beside FILE\n"
    "  --bitmap NAME=BMP          packs BMP as the splash bitmap NAME (resource\n"
    "                             SplashScreen, NAME)\n"
    "  --icon FILE.ico            the application icon (icon group 50)\n"
    "  -h, --help                 this text\n"
    "\n"
    "Splash bitmaps must be uncompressed bottom-up BMP files with a 40-byte\n"
    "header and 1, 4, 8 or 24 bits per pixel. To convert any image:\n"
    "  convert in.png -type truecolor BMP3:out.bmp\n"
    "\n"
    "Example:\n"
    "  kelpack pack kel.exe -o Game.exe --app game.kel --command-line game.Main \\\n"
    "      --splash 240x320:splash-small.bmp --splash 480x640:splash-big.bmp \\\n"
    "      --title \"Game\" --icon game.ico\n";

const char kShowHelp[] =
    "Usage: kelpack show EXE [--json]\n"
    "\n"
    "Lists the resources of EXE and what the launcher reads from them: the\n"
    "embedded command line, the application package, the splash configuration\n"
    "(or the default one the launcher falls back to) with each entry's bitmap,\n"
    "the splash title and icon group 50.\n"
    "\n"
    "Options:\n"
    "  --json       one JSON object instead of text, for scripts\n"
    "  -h, --help   this text\n"
    "\n"
    "For the screens 240x320, 320x240, 480x640, 640x480 and 800x480 it also gives\n"
    "the splash bitmap the launcher chooses and whether the launcher decodes it.\n";

const char kExplainHelp[] =
    "Usage: kelpack explain EXE [options] [-- ARGS...]\n"
    "\n"
    "Tells, in the launcher's start-up order, what the launcher copy EXE does when\n"
    "it is started with the user's command line ARGS (joined by single spaces):\n"
    "the merged command line, whether it registers the .kel file type, the target\n"
    "name and the window class it looks for, whether it relays a command and the\n"
    "bytes it sends, the splash it shows, and where it looks for the engine. It\n"
    "stops where the launcher stops. Nothing is run; the launcher's own code\n"
    "works it out from the resources in EXE.\n"
    "\n"
    "Options:\n"
    "  --command-line TEXT   the user's command line exactly, spaces included\n"
    "                        (instead of -- ARGS...); without either it is empty\n"
    "  --screen WxH          the device's screen (default 240x320)\n"
    "  --installed-as PATH   where the launcher lies on the device, for the engine\n"
    "                        path a registration writes (default \\Windows\\ and\n"
    "                        the file's name)\n"
    "  --json                one JSON object instead of text, for scripts\n"
    "  -h, --help            this text\n"
    "\n"
    "Examples:\n"
    "  kelpack explain Game.exe -- doc.kel\n"
    "  kelpack explain Game.exe -- -+ -acommand '\"go home\"' --\n"
    "  kelpack explain Game.exe --screen 480x640 --command-line ''\n";

bool is_help(const std::string& a) { return a == "-h" || a == "--help"; }

// Splits "--name=value" into its parts; `value` is set only when there is "=".
bool long_option(const std::string& arg, std::string* name, std::string* value, bool* inline_value) {
    if (arg.size() < 3 || arg[0] != '-' || arg[1] != '-') return false;
    std::size_t eq = arg.find('=');
    *inline_value = eq != std::string::npos;
    *name = arg.substr(0, eq);
    *value = *inline_value ? arg.substr(eq + 1) : std::string();
    return true;
}

int usage_error(std::string* err, const std::string& command, const std::string& why) {
    *err += "kelpack " + command + ": " + why + "\nRun 'kelpack " + command + " --help' for the options.\n";
    return kExitUsage;
}

int cmd_pack(const std::vector<std::string>& args, std::string* out, std::string* err) {
    PackOptions o;
    std::vector<std::string> positional;
    bool has_output = false, has_app = false, has_icon = false, has_config = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (is_help(a)) {
            *out += kPackHelp;
            return kExitOk;
        }
        std::string name, value;
        bool inline_value = false;
        if (a == "-o") name = "--output";
        else if (!long_option(a, &name, &value, &inline_value)) {
            if (a.size() > 1 && a[0] == '-') return usage_error(err, "pack", "unknown option " + a);
            positional.push_back(a);
            continue;
        }
        static const char* known[] = {"--output", "--app", "--command-line", "--splash", "--title", "--config", "--bitmap", "--icon"};
        bool ok = false;
        for (const char* k : known) ok = ok || name == k;
        if (!ok) return usage_error(err, "pack", "unknown option " + a);
        if (!inline_value) {
            if (i + 1 >= args.size()) return usage_error(err, "pack", name + " needs a value");
            value = args[++i];
        }
        auto once = [&](bool* seen) {
            if (*seen) return false;
            *seen = true;
            return true;
        };
        if (name == "--output") {
            if (!once(&has_output)) return usage_error(err, "pack", "--output is given twice");
            o.output = value;
        } else if (name == "--app") {
            if (!once(&has_app)) return usage_error(err, "pack", "--app is given twice");
            o.app_file = value;
        } else if (name == "--command-line") {
            if (!once(&o.has_command_line)) return usage_error(err, "pack", "--command-line is given twice");
            o.command_line = value;
        } else if (name == "--title") {
            if (!once(&o.has_title)) return usage_error(err, "pack", "--title is given twice");
            o.title = value;
        } else if (name == "--config") {
            if (!once(&has_config)) return usage_error(err, "pack", "--config is given twice");
            o.config_file = value;
        } else if (name == "--icon") {
            if (!once(&has_icon)) return usage_error(err, "pack", "--icon is given twice");
            o.icon_file = value;
        } else if (name == "--splash") {
            SplashOption s;
            std::string why;
            if (!parse_splash_option(value, &s, &why)) return usage_error(err, "pack", "--splash " + why);
            o.splashes.push_back(s);
        } else if (name == "--bitmap") {
            std::size_t eq = value.find('=');
            if (eq == std::string::npos || eq == 0 || eq + 1 == value.size())
                return usage_error(err, "pack", "--bitmap needs NAME=FILE, not \"" + value + "\"");
            o.bitmaps.push_back({value.substr(0, eq), value.substr(eq + 1)});
        }
    }
    if (positional.size() != 1) return usage_error(err, "pack", positional.empty() ? "no launcher executable given" : "more than one launcher executable given");
    if (!has_output || o.output.empty()) return usage_error(err, "pack", "no output given (-o OUTPUT)");
    if (has_config && !o.splashes.empty()) return usage_error(err, "pack", "--splash and --config exclude each other");
    if (has_config && o.has_title) return usage_error(err, "pack", "--title and --config exclude each other; put the title in the file");
    o.input = positional[0];

    PackResult r = run_pack(o);
    for (const std::string& w : r.warnings) *err += "kelpack: warning: " + w + "\n";
    for (const std::string& e : r.errors) *err += "kelpack: error: " + e + "\n";
    if (r.exit_code == kExitOk) *out += r.summary + "\n";
    else if (r.exit_code != kExitUsage) *err += "kelpack: nothing was written\n";
    return r.exit_code;
}

int cmd_show(const std::vector<std::string>& args, std::string* out, std::string* err) {
    bool json = false;
    std::vector<std::string> positional;
    for (const std::string& a : args) {
        if (is_help(a)) {
            *out += kShowHelp;
            return kExitOk;
        }
        if (a == "--json") json = true;
        else if (a.size() > 1 && a[0] == '-') return usage_error(err, "show", "unknown option " + a);
        else positional.push_back(a);
    }
    if (positional.size() != 1) return usage_error(err, "show", positional.empty() ? "no executable given" : "give one executable");
    ShowReport report;
    std::string why;
    int code = kExitOk;
    if (!make_show_report(positional[0], &report, &why, &code)) {
        *err += "kelpack: error: " + why + "\n";
        return code;
    }
    *out += json ? show_json(report) : show_text(report);
    return kExitOk;
}

int cmd_explain(const std::vector<std::string>& args, std::string* out, std::string* err) {
    ExplainOptions o;
    bool json = false, has_line = false, has_args = false, has_screen = false;
    std::vector<std::string> positional, user_args;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") {
            // Everything after it is the user's command line, options of the launcher included.
            has_args = true;
            user_args.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        }
        if (is_help(a)) {
            *out += kExplainHelp;
            return kExitOk;
        }
        if (a == "--json") {
            json = true;
            continue;
        }
        std::string name, value;
        bool inline_value = false;
        if (!long_option(a, &name, &value, &inline_value)) {
            if (a.size() > 1 && a[0] == '-') return usage_error(err, "explain", "unknown option " + a);
            positional.push_back(a);
            continue;
        }
        if (name != "--command-line" && name != "--screen" && name != "--installed-as")
            return usage_error(err, "explain", "unknown option " + a);
        if (!inline_value) {
            if (i + 1 >= args.size()) return usage_error(err, "explain", name + " needs a value");
            value = args[++i];
        }
        std::u16string wide;
        if (name == "--screen") {
            std::uint32_t w = 0, h = 0;
            if (has_screen) return usage_error(err, "explain", "--screen is given twice");
            if (!parse_size(value, &w, &h))
                return usage_error(err, "explain", "--screen \"" + value + "\": give WIDTHxHEIGHT, each 1 to 65535");
            has_screen = true;
            o.screen_width = static_cast<std::int32_t>(w);
            o.screen_height = static_cast<std::int32_t>(h);
        } else if (!utf8_to_utf16(value, &wide)) {
            return usage_error(err, "explain", name + " is not UTF-8 text");
        } else if (name == "--command-line") {
            if (has_line) return usage_error(err, "explain", "--command-line is given twice");
            has_line = true;
            o.user_line = wide;
        } else {
            if (o.has_installed_as) return usage_error(err, "explain", "--installed-as is given twice");
            o.has_installed_as = true;
            o.installed_as = wide;
        }
    }
    if (positional.size() != 1) return usage_error(err, "explain", positional.empty() ? "no executable given" : "give one executable");
    if (has_line && has_args) return usage_error(err, "explain", "give the user's command line with --command-line or after --, not both");
    if (has_args) {
        std::string joined;
        for (std::size_t i = 0; i < user_args.size(); ++i) joined += (i ? " " : "") + user_args[i];
        if (!utf8_to_utf16(joined, &o.user_line)) return usage_error(err, "explain", "the arguments are not UTF-8 text");
    }
    o.file = positional[0];
    Explanation x;
    std::string why;
    int code = kExitOk;
    if (!explain(o, &x, &why, &code)) {
        *err += "kelpack: error: " + why + "\n";
        return code;
    }
    *out += json ? explain_json(x) : explain_text(x);
    return kExitOk;
}

}  // namespace

int run_cli(const std::vector<std::string>& args, std::string* out, std::string* err) {
    if (args.empty()) {
        *err += kToolHelp;
        return kExitUsage;
    }
    const std::string& cmd = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (is_help(cmd)) {
        *out += kToolHelp;
        return kExitOk;
    }
    if (cmd == "help") {
        if (rest.empty()) *out += kToolHelp;
        else if (rest[0] == "pack") *out += kPackHelp;
        else if (rest[0] == "show") *out += kShowHelp;
        else if (rest[0] == "explain") *out += kExplainHelp;
        else return usage_error(err, "help", "no command " + rest[0]);
        return kExitOk;
    }
    if (cmd == "--version") {
        *out += std::string(kVersion) + "\n";
        return kExitOk;
    }
    if (cmd == "pack") return cmd_pack(rest, out, err);
    if (cmd == "show") return cmd_show(rest, out, err);
    if (cmd == "explain") return cmd_explain(rest, out, err);
    *err += "kelpack: unknown command " + cmd + "\n\n" + kToolHelp;
    return kExitUsage;
}

}  // namespace kelpack
