#include "cli.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>

#include "cab.h"
#include "contract/kel.h"
#include "copy_contents.h"
#include "explain.h"
#include "fileio.h"
#include "image.h"
#include "launcher_view.h"
#include "pack.h"
#include "preview.h"
#include "resources.h"
#include "show.h"
#include "splash/config.h"
#include "text/utf8_strings.h"
#include "version.h"

namespace kelpack {

namespace {

const char kToolHelp[] =
    "kelpack: packages an application into a copy of the Kel launcher, shows\n"
    "what a launcher copy carries, explains what it does with a command line,\n"
    "and draws the splash it shows.\n"
    "\n"
    "Usage:\n"
    "  kelpack pack LAUNCHER -o OUTPUT [options]   write a launcher copy carrying an application\n"
    "  kelpack show EXE [--json]                   list what a launcher copy carries\n"
    "  kelpack explain EXE [options] -- ARGS...    what it does when started with ARGS\n"
    "  kelpack preview EXE [--screen WxH]... [-o DIR]\n"
    "                                              draw its splash on each screen, one PNG each\n"
    "  kelpack cab COPY -o OUTPUT [options]        an installation cabinet for the device\n"
    "  kelpack help [COMMAND]                      this text, or a command's\n"
    "  kelpack --version                           this kelpack's version\n"
    "\n"
    "Run 'kelpack COMMAND --help' for a command's options.\n"
    "\n"
    "Exit codes: 0 done; 1 bad options; 2 a file could not be read; 3 the launcher\n"
    "is not a usable PE image; 4 something to pack was rejected; 5 the output could\n"
    "not be written.\n";

// The help texts that name the launcher's resources take the names from the
// contract, so that they say what pack writes.
std::string PackHelp() {
    const std::string text = ContractName(kel::kTextResourceType);
    return "Usage: kelpack pack LAUNCHER -o OUTPUT [options]\n"
           "\n"
           "Writes OUTPUT, a copy of the launcher executable LAUNCHER (PE32 or PE32+, any\n"
           "machine) that carries what the options give. Resources the options do not\n"
           "name are kept as they are; those they name are replaced. LAUNCHER is never\n"
           "changed, and OUTPUT is written whole or not at all. Every input is checked\n"
           "first; nothing is written when one is rejected.\n"
           "\n"
           "Options:\n"
           "  -o, --output FILE          the launcher copy to write (required)\n"
           "  --app FILE                 the application package (resource " + ContractName(kel::kApplicationResourceType) + ",\n"
           "                             " + ContractName(kel::kApplicationResourceName) + ")\n"
           "  --command-line TEXT        the embedded command line (resource " + text + ",\n"
           "                             " + ContractName(kel::kCommandLineResourceName) + "); no CR, LF or NUL\n"
           "  --splash [WxH:]IMAGE[:NAME]\n"
           "                             a splash picture to offer on screens of at least\n"
           "                             WxH pixels (default: the picture's own size),\n"
           "                             packed as NAME (default: the file's name);\n"
           "                             repeat for each size. Writes the configuration\n"
           "                             (resource " + text + ", " + ContractName(kel::kConfigResourceName) + ") from these and --title.\n"
           "                             WxH is digits, x or X, digits; the rest is IMAGE\n"
           "                             alone when it names a file (a path with \":\"),\n"
           "                             and ./240x320:a.png names a file called so\n"
           "  --title TEXT               the splash window's title (default \"" + std::string(splash::kDefaultSplashTitle) + "\");\n"
           "                             alone, it changes the title of the configuration\n"
           "                             the launcher carries; no control characters\n"
           "  --config FILE              the configuration text from a file, as\n"
           "                             SplashScreen=WxH;NAME|...|SplashScreenTitle=TEXT;\n"
           "                             the pictures it names come from --bitmap, or from\n"
           "                             files of those names beside FILE\n"
           "  --bitmap NAME=IMAGE        packs IMAGE as the splash bitmap NAME (resource\n"
           "                             " + ContractName(kel::kSplashResourceType) + ", NAME)\n"
           "  --background RRGGBB        the colour transparent pixels are laid over\n"
           "                             (hex, #RRGGBB too; default " + ColourText(kDefaultBackground) + ", the splash\n"
           "                             window's white)\n"
           "  --fit                      scales each splash picture down (never up) to fit\n"
           "                             the size of the configuration entries that name\n"
           "                             it, keeping its proportions\n"
           "  --icon FILE                the application icon (icon group " + std::to_string(kel::kIconGroupId) + "): an .ico\n"
           "                             as it is, or any picture kelpack reads, made into\n"
           "                             16, 32 and 48 pixel icons at 4, 8 and 32 bits\n"
           "  --keep-unused              keeps splash bitmaps of LAUNCHER that no entry of the\n"
           "                             configuration names (they are dropped otherwise)\n"
           "  --allow-large              writes a copy larger than the 32 MiB a Windows CE\n"
           "                             4.20 process has for its image, heap and stacks\n"
           "                             (for desktop Windows; a device cannot start it)\n"
           "  -h, --help                 this text\n"
           "\n"
           "Splash pictures may be PNG, JPEG, GIF (the first frame) or BMP files of any\n"
           "kind, at most 65535 pixels a side and " + std::to_string(kMaxImagePixels >> 20) + " Mi pixels in all. Each\n"
           "is written as the bitmap the launcher shows (bottom-up, uncompressed) in\n"
           "the smallest file that holds it exactly: 1, 4 or 8 bits with a palette\n"
           "when it has at most 2, 16 or 256 colours and the palette does not outweigh\n"
           "what it saves, else 24. A BMP the launcher shows already at that depth is\n"
           "packed as it is. A JPEG is turned upright as its EXIF orientation says. A\n"
           "note on standard error tells what each became.\n"
           "\n"
           "Example:\n"
           "  kelpack pack kel.exe -o Game.exe --app game.kel --command-line game.Main \\\n"
           "      --splash 240x320:splash-small.png --splash 480x640:splash-big.jpg --fit \\\n"
           "      --title \"Game\" --icon game.ico\n";
}

// The screens show and preview take by default: "240x320, 320x240 and 480x640".
std::string CommonScreensText() {
    std::string screens;
    std::size_t count = sizeof kCommonScreens / sizeof kCommonScreens[0];
    for (std::size_t i = 0; i < count; ++i)
        screens += std::string(i == 0 ? "" : i + 1 == count ? " and " : ", ") + std::to_string(kCommonScreens[i].width) +
                   "x" + std::to_string(kCommonScreens[i].height);
    return screens;
}

std::string ShowHelp() {
    std::string screens = CommonScreensText();
    return "Usage: kelpack show EXE [--json]\n"
           "\n"
           "Lists the resources of EXE and what the launcher reads from them: the\n"
           "embedded command line, the application package, the splash configuration\n"
           "(or the default one the launcher falls back to) with each entry's bitmap,\n"
           "the splash title and icon group " + std::to_string(kel::kIconGroupId) + ".\n"
           "\n"
           "Options:\n"
           "  --json       one JSON object instead of text, for scripts\n"
           "  -h, --help   this text\n"
           "\n"
           "For the screens " + screens + " it also gives\n"
           "the splash bitmap the launcher chooses and whether the launcher decodes it.\n";
}

std::string ExplainHelp() {
    return "Usage: kelpack explain EXE [options] [-- ARGS...]\n"
           "\n"
           "Tells, in the launcher's start-up order, what the launcher copy EXE does when\n"
           "it is started with the user's command line ARGS (joined by single spaces):\n"
           "the merged command line, whether it registers the " + ContractName(kel::kFileExtension) + " file type, the target\n"
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
}

std::string PreviewHelp() {
    return "Usage: kelpack preview EXE [--screen WxH]... [-o DIR]\n"
           "\n"
           "Draws what a device's screen shows while the launcher copy EXE starts its\n"
           "engine: the splash bitmap the launcher chooses for that screen, in its\n"
           "borderless window centred on the screen and cut off where it is larger.\n"
           "Around the window the screen is grey (" + std::to_string(kPreviewBackground >> 16) + ", " +
           std::to_string((kPreviewBackground >> 8) & 0xFF) + ", " + std::to_string(kPreviewBackground & 0xFF) +
           "); with no splash,\n"
           "the picture is the bare screen. One PNG file per screen,\n"
           "DIR/preview-WxH.png; a run writes all of them or none.\n"
           "\n"
           "Options:\n"
           "  --screen WxH   a screen to draw, each side 1 to " + std::to_string(kMaxPreviewSide) + "; repeatable (default:\n"
           "                 " + CommonScreensText() + ")\n"
           "  -o, --output-dir DIR\n"
           "                 the folder to write to (default: the current one)\n"
           "  -h, --help     this text\n"
           "\n"
           "Example:\n"
           "  kelpack preview Game.exe --screen 240x320 --screen 480x640 -o previews\n";
}

std::string CabHelp() {
    const std::string engine = ContractName(kel::kEngineLibraryName);
    return "Usage: kelpack cab COPY -o OUTPUT [options]\n"
           "\n"
           "Writes OUTPUT, an installation cabinet (.cab) that a Windows CE 4.20 or later\n"
           "device on ARM installs, lists under Remove Programs and removes again. COPY is a\n"
           "launcher copy made by kelpack pack from the device's kel.exe; it is installed\n"
           "as \\Program Files\\NAME\\ and its own file name, which must end in .exe.\n"
           "COPY is never changed, and OUTPUT is written whole or not at all.\n"
           "\n"
           "Options:\n"
           "  -o, --output FILE          the cabinet to write (required)\n"
           "  --name NAME                the application's name on the device and its folder\n"
           "                             (default: COPY's splash title, else its file name\n"
           "                             without .exe); printable ASCII\n"
           "  --provider TEXT            who makes it; the device lists \"PROVIDER NAME\"\n"
           "                             (default: COPY's file name without .exe)\n"
           "  --shortcut programs|games|none\n"
           "                             a Start menu shortcut to COPY in Programs (default)\n"
           "                             or Games, or none\n"
           "  --engine DLL               also installs the engine, an ARM DLL that exports\n"
           "                             KelMainW, as \\Windows\\" + engine + ", shared with the other\n"
           "                             applications that install it and never put over\n"
           "                             a newer one\n"
           "  --register-filetype        registers the " + ContractName(kel::kFileExtension) + " file type at install time, with\n"
           "                             the rows the launcher writes itself when started\n"
           "                             with a blank command line, for its installed path\n"
           "  -h, --help                 this text\n"
           "\n"
           "Example:\n"
           "  kelpack cab Game.exe -o Game.cab --provider \"Example Software\" --engine " + engine + " \\\n"
           "      --register-filetype\n";
}

bool IsHelp(const std::string& a) { return a == "-h" || a == "--help"; }

// Splits "--name=value" into its parts; `value` is set only when there is "=".
bool LongOption(const std::string& arg, std::string* name, std::string* value, bool* inlineValue) {
    if (arg.size() < 3 || arg[0] != '-' || arg[1] != '-') return false;
    std::size_t eq = arg.find('=');
    *inlineValue = eq != std::string::npos;
    *name = arg.substr(0, eq);
    *value = *inlineValue ? arg.substr(eq + 1) : std::string();
    return true;
}

int UsageError(std::string* err, const std::string& command, const std::string& why) {
    *err += "kelpack " + command + ": " + why + "\nRun 'kelpack " + command + " --help' for the options.\n";
    return kExitUsage;
}

int CmdPack(const std::vector<std::string>& args, std::string* out, std::string* err) {
    PackOptions o;
    std::vector<std::string> positional;
    bool hasOutput = false, hasApp = false, hasIcon = false, hasConfig = false, hasBackground = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (IsHelp(a)) {
            *out += PackHelp();
            return kExitOk;
        }
        if (a == "--fit") {
            o.fit = true;
            continue;
        }
        if (a == "--allow-large" || a == "--keep-unused") {
            (a == "--allow-large" ? o.allowLarge : o.keepUnused) = true;
            continue;
        }
        std::string name, value;
        bool inlineValue = false;
        if (a == "-o") name = "--output";
        else if (!LongOption(a, &name, &value, &inlineValue)) {
            if (a.size() > 1 && a[0] == '-') return UsageError(err, "pack", "unknown option " + a);
            positional.push_back(a);
            continue;
        }
        static const char* known[] = {"--output", "--app", "--command-line", "--splash", "--title", "--config", "--bitmap", "--icon", "--background"};
        bool ok = false;
        for (const char* k : known) ok = ok || name == k;
        if (!ok) return UsageError(err, "pack", "unknown option " + a);
        if (!inlineValue) {
            if (i + 1 >= args.size()) return UsageError(err, "pack", name + " needs a value");
            value = args[++i];
        }
        auto once = [&](bool* seen) {
            if (*seen) return false;
            *seen = true;
            return true;
        };
        if (name == "--output") {
            if (!once(&hasOutput)) return UsageError(err, "pack", "--output is given twice");
            o.output = value;
        } else if (name == "--app") {
            if (!once(&hasApp)) return UsageError(err, "pack", "--app is given twice");
            o.appFile = value;
        } else if (name == "--command-line") {
            if (!once(&o.hasCommandLine)) return UsageError(err, "pack", "--command-line is given twice");
            o.commandLine = value;
        } else if (name == "--title") {
            if (!once(&o.hasTitle)) return UsageError(err, "pack", "--title is given twice");
            o.title = value;
        } else if (name == "--config") {
            if (!once(&hasConfig)) return UsageError(err, "pack", "--config is given twice");
            o.configFile = value;
        } else if (name == "--background") {
            if (!once(&hasBackground)) return UsageError(err, "pack", "--background is given twice");
            if (!ParseColour(value, &o.background))
                return UsageError(err, "pack", "--background \"" + value + "\": give a colour as RRGGBB, six hex digits");
        } else if (name == "--icon") {
            if (!once(&hasIcon)) return UsageError(err, "pack", "--icon is given twice");
            o.iconFile = value;
        } else if (name == "--splash") {
            SplashOption s;
            std::string why;
            if (!ParseSplashOption(value, &s, &why, IsRegularFile)) return UsageError(err, "pack", "--splash " + why);
            o.splashes.push_back(s);
        } else if (name == "--bitmap") {
            std::size_t eq = value.find('=');
            if (eq == std::string::npos || eq == 0 || eq + 1 == value.size())
                return UsageError(err, "pack", "--bitmap needs NAME=FILE, not \"" + value + "\"");
            o.bitmaps.push_back({value.substr(0, eq), value.substr(eq + 1)});
        }
    }
    if (positional.size() != 1) return UsageError(err, "pack", positional.empty() ? "no launcher executable given" : "more than one launcher executable given");
    if (!hasOutput || o.output.empty()) return UsageError(err, "pack", "no output given (-o OUTPUT)");
    if (hasConfig && !o.splashes.empty()) return UsageError(err, "pack", "--splash and --config exclude each other");
    if (hasConfig && o.hasTitle) return UsageError(err, "pack", "--title and --config exclude each other; put the title in the file");
    o.input = positional[0];

    PackResult r = RunPack(o);
    for (const std::string& w : r.warnings) *err += "kelpack: warning: " + w + "\n";
    for (const std::string& e : r.errors) *err += "kelpack: error: " + e + "\n";
    if (r.exitCode == kExitOk) {
        for (const std::string& n : r.notes) *err += "kelpack: note: " + n + "\n";
        *out += r.summary + "\n";
    }
    else if (r.exitCode != kExitUsage) *err += "kelpack: nothing was written\n";
    return r.exitCode;
}

int CmdCab(const std::vector<std::string>& args, std::string* out, std::string* err) {
    CabOptions o;
    std::vector<std::string> positional;
    bool hasOutput = false, hasShortcut = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (IsHelp(a)) {
            *out += CabHelp();
            return kExitOk;
        }
        if (a == "--register-filetype") {
            o.registerFileType = true;
            continue;
        }
        std::string name, value;
        bool inlineValue = false;
        if (a == "-o") name = "--output";
        else if (!LongOption(a, &name, &value, &inlineValue)) {
            if (a.size() > 1 && a[0] == '-') return UsageError(err, "cab", "unknown option " + a);
            positional.push_back(a);
            continue;
        }
        if (name != "--output" && name != "--name" && name != "--provider" && name != "--shortcut" && name != "--engine")
            return UsageError(err, "cab", "unknown option " + a);
        if (!inlineValue) {
            if (i + 1 >= args.size()) return UsageError(err, "cab", name + " needs a value");
            value = args[++i];
        }
        bool* seen = name == "--output" ? &hasOutput : name == "--name" ? &o.hasName : name == "--provider" ? &o.hasProvider
                     : name == "--shortcut" ? &hasShortcut : nullptr;
        if ((seen != nullptr && *seen) || (name == "--engine" && !o.engine.empty()))
            return UsageError(err, "cab", name + " is given twice");
        if (seen != nullptr) *seen = true;
        if (name == "--output") o.output = value;
        else if (name == "--name") o.name = value;
        else if (name == "--provider") o.provider = value;
        else if (name == "--engine") o.engine = value;
        else if (value == "programs" || value == "games" || value == "none")
            o.shortcut = value == "programs" ? ShortcutFolder::kPrograms : value == "games" ? ShortcutFolder::kGames : ShortcutFolder::kNone;
        else return UsageError(err, "cab", "--shortcut \"" + value + "\": give programs, games or none");
        if (name == "--engine" && value.empty()) return UsageError(err, "cab", "--engine needs a file");
    }
    if (positional.size() != 1) return UsageError(err, "cab", positional.empty() ? "no launcher copy given" : "more than one launcher copy given");
    if (!hasOutput || o.output.empty()) return UsageError(err, "cab", "no output given (-o OUTPUT)");
    o.copy = positional[0];
    CabResult r = RunCab(o);
    for (const std::string& w : r.warnings) *err += "kelpack: warning: " + w + "\n";
    for (const std::string& e : r.errors) *err += "kelpack: error: " + e + "\n";
    if (r.exitCode == kExitOk) {
        for (const std::string& n : r.notes) *err += "kelpack: note: " + n + "\n";
        *out += r.summary + "\n";
    } else if (r.exitCode != kExitUsage) {
        *err += "kelpack: nothing was written\n";
    }
    return r.exitCode;
}

int CmdShow(const std::vector<std::string>& args, std::string* out, std::string* err) {
    bool json = false;
    std::vector<std::string> positional;
    for (const std::string& a : args) {
        if (IsHelp(a)) {
            *out += ShowHelp();
            return kExitOk;
        }
        if (a == "--json") json = true;
        else if (a.size() > 1 && a[0] == '-') return UsageError(err, "show", "unknown option " + a);
        else positional.push_back(a);
    }
    if (positional.size() != 1) return UsageError(err, "show", positional.empty() ? "no executable given" : "give one executable");
    ShowReport report;
    std::string why;
    int code = kExitOk;
    if (!MakeShowReport(positional[0], &report, &why, &code)) {
        *err += "kelpack: error: " + why + "\n";
        return code;
    }
    for (const std::string& w : report.warnings) *err += "kelpack: warning: " + w + "\n";
    *out += json ? ShowJson(report) : ShowText(report);
    return kExitOk;
}

int CmdPreview(const std::vector<std::string>& args, std::string* out, std::string* err) {
    PreviewOptions o;
    bool hasDir = false;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (IsHelp(a)) {
            *out += PreviewHelp();
            return kExitOk;
        }
        std::string name, value;
        bool inlineValue = false;
        if (a == "-o") name = "--output-dir";
        else if (!LongOption(a, &name, &value, &inlineValue)) {
            if (a.size() > 1 && a[0] == '-') return UsageError(err, "preview", "unknown option " + a);
            positional.push_back(a);
            continue;
        }
        if (name != "--screen" && name != "--output-dir") return UsageError(err, "preview", "unknown option " + a);
        if (!inlineValue) {
            if (i + 1 >= args.size()) return UsageError(err, "preview", name + " needs a value");
            value = args[++i];
        }
        if (name == "--output-dir") {
            if (hasDir) return UsageError(err, "preview", "--output-dir is given twice");
            if (value.empty()) return UsageError(err, "preview", "--output-dir needs a folder");
            hasDir = true;
            o.dir = value;
            continue;
        }
        std::uint32_t w = 0, h = 0;
        if (!ParseSize(value, &w, &h) || w > static_cast<std::uint32_t>(kMaxPreviewSide) ||
            h > static_cast<std::uint32_t>(kMaxPreviewSide))
            return UsageError(err, "preview", "--screen \"" + value + "\": give WIDTHxHEIGHT, each 1 to " +
                                                  std::to_string(kMaxPreviewSide));
        ScreenSize screen{static_cast<std::int32_t>(w), static_cast<std::int32_t>(h)};
        for (const ScreenSize& s : o.screens)
            if (s.width == screen.width && s.height == screen.height)
                return UsageError(err, "preview", "--screen " + value + " is given twice");
        o.screens.push_back(screen);
    }
    if (positional.size() != 1) return UsageError(err, "preview", positional.empty() ? "no executable given" : "give one executable");
    o.file = positional[0];
    PreviewResult r = RunPreview(o);
    for (const std::string& e : r.errors) *err += "kelpack: error: " + e + "\n";
    if (r.exitCode == kExitOk) *out += r.summary;
    else if (r.exitCode == kExitWrite) *err += "kelpack: nothing was written\n";
    return r.exitCode;
}

int CmdExplain(const std::vector<std::string>& args, std::string* out, std::string* err) {
    ExplainOptions o;
    bool json = false, hasLine = false, hasArgs = false, hasScreen = false;
    std::vector<std::string> positional, userArgs;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") {
            // Everything after it is the user's command line, options of the launcher included.
            hasArgs = true;
            userArgs.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        }
        if (IsHelp(a)) {
            *out += ExplainHelp();
            return kExitOk;
        }
        if (a == "--json") {
            json = true;
            continue;
        }
        std::string name, value;
        bool inlineValue = false;
        if (!LongOption(a, &name, &value, &inlineValue)) {
            if (a.size() > 1 && a[0] == '-') return UsageError(err, "explain", "unknown option " + a);
            positional.push_back(a);
            continue;
        }
        if (name != "--command-line" && name != "--screen" && name != "--installed-as")
            return UsageError(err, "explain", "unknown option " + a);
        if (!inlineValue) {
            if (i + 1 >= args.size()) return UsageError(err, "explain", name + " needs a value");
            value = args[++i];
        }
        bool utf8 = true;
        std::u16string wide = text::Utf8ToWide(value, &utf8);
        if (name == "--screen") {
            std::uint32_t w = 0, h = 0;
            if (hasScreen) return UsageError(err, "explain", "--screen is given twice");
            if (!ParseSize(value, &w, &h))
                return UsageError(err, "explain", "--screen \"" + value + "\": give WIDTHxHEIGHT, each 1 to 65535");
            hasScreen = true;
            o.screenWidth = static_cast<std::int32_t>(w);
            o.screenHeight = static_cast<std::int32_t>(h);
        } else if (!utf8) {
            return UsageError(err, "explain", name + " is not UTF-8 text");
        } else if (name == "--command-line") {
            if (hasLine) return UsageError(err, "explain", "--command-line is given twice");
            hasLine = true;
            o.userLine = wide;
        } else {
            if (o.hasInstalledAs) return UsageError(err, "explain", "--installed-as is given twice");
            o.hasInstalledAs = true;
            o.installedAs = wide;
        }
    }
    if (positional.size() != 1) return UsageError(err, "explain", positional.empty() ? "no executable given" : "give one executable");
    if (hasLine && hasArgs) return UsageError(err, "explain", "give the user's command line with --command-line or after --, not both");
    if (hasArgs) {
        std::string joined;
        for (std::size_t i = 0; i < userArgs.size(); ++i) joined += (i ? " " : "") + userArgs[i];
        bool utf8 = true;
        o.userLine = text::Utf8ToWide(joined, &utf8);
        if (!utf8) return UsageError(err, "explain", "the arguments are not UTF-8 text");
    }
    o.file = positional[0];
    Explanation x;
    std::string why;
    int code = kExitOk;
    if (!Explain(o, &x, &why, &code)) {
        *err += "kelpack: error: " + why + "\n";
        return code;
    }
    *out += json ? ExplainJson(x) : ExplainText(x);
    return kExitOk;
}

}  // namespace

namespace {

int RunCommand(const std::vector<std::string>& args, std::string* out, std::string* err) {
    if (args.empty()) {
        *err += kToolHelp;
        return kExitUsage;
    }
    const std::string& cmd = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (IsHelp(cmd)) {
        *out += kToolHelp;
        return kExitOk;
    }
    if (cmd == "help") {
        if (rest.empty()) *out += kToolHelp;
        else if (rest[0] == "pack") *out += PackHelp();
        else if (rest[0] == "show") *out += ShowHelp();
        else if (rest[0] == "explain") *out += ExplainHelp();
        else if (rest[0] == "preview") *out += PreviewHelp();
        else if (rest[0] == "cab") *out += CabHelp();
        else return UsageError(err, "help", "no command " + rest[0]);
        return kExitOk;
    }
    if (cmd == "--version") {
        *out += std::string("kelpack ") + kVersion + "\n";
        return kExitOk;
    }
    if (cmd == "pack") return CmdPack(rest, out, err);
    if (cmd == "show") return CmdShow(rest, out, err);
    if (cmd == "explain") return CmdExplain(rest, out, err);
    if (cmd == "preview") return CmdPreview(rest, out, err);
    if (cmd == "cab") return CmdCab(rest, out, err);
    *err += "kelpack: unknown command " + cmd + "\n\n" + kToolHelp;
    return kExitUsage;
}

// Out of memory: the files the run was writing are removed, and the run ends
// with the exit code of an output not written, never with an abort. Called
// by operator new, so it allocates nothing.
[[noreturn]] void OutOfMemory() {
    RemoveInterruptedFiles();
    std::fputs("kelpack: error: out of memory; nothing was written\n", stderr);
    std::fflush(stderr);
    std::_Exit(kExitWrite);
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::string* out, std::string* err) {
    std::set_new_handler(OutOfMemory);
#if defined(__cpp_exceptions)
    // What fails without operator new: a buffer larger than the system's
    // address space, say on a 32-bit build.
    try {
        return RunCommand(args, out, err);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    *err += "kelpack: error: out of memory; nothing was written\n";
    return kExitWrite;
#else
    return RunCommand(args, out, err);
#endif
}

}  // namespace kelpack
