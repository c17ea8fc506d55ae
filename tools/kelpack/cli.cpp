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
#include "options.h"
#include "outcome.h"
#include "pack.h"
#include "preview.h"
#include "resources.h"
#include "show.h"
#include "splash/config.h"
#include "text/utf8_strings.h"
#include "version.h"
#include "wording.h"

namespace kelpack {

namespace {

const char kToolHelp[] =
    "kelpack: packages an application into a copy of the Kel launcher, shows\n"
    "what a launcher copy carries, explains what it does with a command line,\n"
    "and draws the splash it shows.\n"
    "\n"
    "Usage:\n"
    "  kelpack pack LAUNCHER -o OUTPUT [options]   write a launcher copy carrying an application\n"
    "  kelpack show EXE|CAB [--json]               list what a launcher copy or a cabinet carries\n"
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
           "                             Entries go in an order that gives each screen\n"
           "                             the largest one that fits it (smallest first,\n"
           "                             when the order given does not)\n"
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
           "  --hi-res-aware             marks the copy ready for high-resolution screens\n"
           "                             (resource " + ContractName(kel::kHiResAwareResourceType) + ", " + ContractName(kel::kHiResAwareResourceName) + "): a 480x640\n"
           "                             Pocket PC then tells it, and its engine, the real\n"
           "                             screen size instead of doubling a 240x320 one\n"
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
    std::vector<std::string> screens;
    for (const ScreenSize& s : kCommonScreens) screens.push_back(SizeText(s.width, s.height));
    return Listed(screens);
}

std::string ShowHelp() {
    std::string screens = CommonScreensText();
    return "Usage: kelpack show EXE [--json]\n"
           "       kelpack show CAB [--json]\n"
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
           "the splash bitmap the launcher chooses and whether the launcher decodes it.\n"
           "\n"
           "EXE may also be an installation cabinet (.cab, as kelpack cab writes): then\n"
           "show lists what the device's installer makes of it (the application's name\n"
           "and provider, the Windows CE versions and processor it takes, each file and\n"
           "where it goes, the registry values, the shortcuts) and, for each program in\n"
           "it, what show says of a launcher copy.\n";
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

int UsageError(std::string* err, const std::string& command, const std::string& why) {
    *err += "kelpack " + command + ": " + why + "\nRun 'kelpack " + command + " --help' for the options.\n";
    return kExitUsage;
}

std::string CabHelp() {
    const std::string engine = ContractName(kel::kEngineLibraryName);
    const std::string kel = ContractName(kel::kFileExtension);
    return "Usage: kelpack cab COPY -o OUTPUT [options]\n"
           "       kelpack cab --runtime KEL.EXE --engine DLL -o OUTPUT [options]\n"
           "\n"
           "Writes OUTPUT, an installation cabinet (.cab) that a Windows CE 4.20 or later\n"
           "device on ARM installs, lists under Remove Programs and removes again. COPY is a\n"
           "launcher copy made by kelpack pack from the device's kel.exe; it is installed\n"
           "in \\Program Files\\NAME under its own file name, which must end in .exe.\n"
           "With --runtime, the cabinet is the runtime the applications share: the device's\n"
           "kel.exe as built, installed as \\Windows\\Kel.exe beside the engine, which\n"
           "registers the " + kel + " file type for it; removing it removes the registration.\n"
           "An application's cabinet never registers the file type, so that removing one\n"
           "application leaves it to the others. Input files are never changed, and OUTPUT\n"
           "is written whole or not at all.\n"
           "\n"
           "Options:\n"
           "  -o, --output FILE          the cabinet to write (required)\n"
           "  --name NAME                the application's name on the device and its folder\n"
           "                             (default: COPY's splash title, else its file name\n"
           "                             without .exe; the runtime's: Kel Runtime); printable\n"
           "                             ASCII, at most 40 characters, none of \\ / : * ? \" < > | & %\n"
           "  --provider TEXT            who makes it; the device lists \"PROVIDER NAME\"\n"
           "                             (default: COPY's file name without .exe; the\n"
           "                             runtime's: Norvane); printable ASCII, at most 30\n"
           "                             characters, none of \\ / : * ? \" < > | &\n"
           "  --shortcut programs|games|none\n"
           "                             a Start menu shortcut to COPY in Programs (default;\n"
           "                             none for the runtime) or Games, or none\n"
           "  --engine DLL               also installs the engine, an ARM DLL that exports\n"
           "                             KelMainW, as \\Windows\\" + engine + ", shared with the other\n"
           "                             applications that install it and never put over\n"
           "                             a newer one (required with --runtime)\n"
           "  --runtime                  makes the runtime's cabinet (above)\n"
           "  --compress                 compresses the cabinet with MSZIP, which the device's\n"
           "                             installer inflates (default: stored, as most are)\n"
           "  -h, --help                 this text\n"
           "\n"
           "Each file carries its last change as its date (the installer never puts a file\n"
           "over a newer one), no later than SOURCE_DATE_EPOCH when that is set.\n"
           "\n"
           "Examples:\n"
           "  kelpack cab Game.exe -o Game.cab --provider \"Example Software\" --compress\n"
           "  kelpack cab --runtime kel.exe --engine " + engine + " -o KelRuntime.cab --compress\n";
}

// The outcome told, and its exit code.
int Told(const Outcome& outcome, std::string* out, std::string* err) {
    PrintOutcome(outcome, out, err);
    return outcome.exitCode;
}

int CmdPack(const std::vector<std::string>& args, std::string* out, std::string* err) {
    PackOptions o;
    bool help = false;
    std::string why;
    if (!ParsePackArguments(args, &o, &help, &why)) return UsageError(err, "pack", why);
    if (help) {
        *out += PackHelp();
        return kExitOk;
    }
    return Told(RunPack(o), out, err);
}

int CmdCab(const std::vector<std::string>& args, std::string* out, std::string* err) {
    CabOptions o;
    bool help = false;
    std::string why;
    if (!ParseCabArguments(args, &o, &help, &why)) return UsageError(err, "cab", why);
    if (help) {
        *out += CabHelp();
        return kExitOk;
    }
    return Told(RunCab(o), out, err);
}

int CmdShow(const std::vector<std::string>& args, std::string* out, std::string* err) {
    ShowOptions o;
    auto take = [&o](const std::string&, const std::string&, std::string*) { return o.json = true; };
    Arguments a;
    std::string why;
    if (!ReadArguments(args, {{"--json", nullptr, false, true}}, false, take, &a, &why)) return UsageError(err, "show", why);
    if (a.help) {
        *out += ShowHelp();
        return kExitOk;
    }
    if (a.positional.size() != 1) return UsageError(err, "show", a.positional.empty() ? "no executable given" : "give one executable");
    o.file = a.positional[0];
    return Told(RunShow(o), out, err);
}

// Takes one option of preview's into its options; false with the reason.
bool TakePreviewOption(PreviewOptions* o, const std::string& name, const std::string& value, std::string* why) {
    if (name == "--output-dir") {
        o->dir = value;
        if (value.empty()) *why = "--output-dir needs a folder";
        return !value.empty();
    }
    std::uint32_t w = 0, h = 0;
    if (!ParseSize(value, &w, &h) || w > static_cast<std::uint32_t>(kMaxPreviewSide) ||
        h > static_cast<std::uint32_t>(kMaxPreviewSide)) {
        *why = "--screen \"" + value + "\": give WIDTHxHEIGHT, each 1 to " + std::to_string(kMaxPreviewSide);
        return false;
    }
    ScreenSize screen{static_cast<std::int32_t>(w), static_cast<std::int32_t>(h)};
    for (const ScreenSize& s : o->screens)
        if (s.width == screen.width && s.height == screen.height) {
            *why = "--screen " + value + " is given twice";
            return false;
        }
    o->screens.push_back(screen);
    return true;
}

int CmdPreview(const std::vector<std::string>& args, std::string* out, std::string* err) {
    PreviewOptions o;
    auto take = [&o](const std::string& name, const std::string& value, std::string* why) {
        return TakePreviewOption(&o, name, value, why);
    };
    Arguments a;
    std::string why;
    const std::vector<OptionSpec> options = {{"--screen", nullptr, true, true}, {"--output-dir", "-o", true, false}};
    if (!ReadArguments(args, options, false, take, &a, &why)) return UsageError(err, "preview", why);
    if (a.help) {
        *out += PreviewHelp();
        return kExitOk;
    }
    if (a.positional.size() != 1) return UsageError(err, "preview", a.positional.empty() ? "no executable given" : "give one executable");
    o.file = a.positional[0];
    return Told(RunPreview(o), out, err);
}

// Takes one option of explain's into its options; false with the reason.
bool TakeExplainOption(ExplainOptions* o, bool* hasLine, const std::string& name, const std::string& value, std::string* why) {
    bool utf8 = true;
    std::u16string wide = text::Utf8ToWide(value, &utf8);
    if (name == "--json") return true;
    if (name == "--screen") {
        std::uint32_t w = 0, h = 0;
        if (!ParseSize(value, &w, &h)) *why = "--screen \"" + value + "\": give WIDTHxHEIGHT, each 1 to 65535";
        o->screenWidth = static_cast<std::int32_t>(w);
        o->screenHeight = static_cast<std::int32_t>(h);
        return why->empty();
    }
    // Each once, told after the text is found not to be UTF-8.
    bool* seen = name == "--command-line" ? hasLine : &o->hasInstalledAs;
    if (!utf8) *why = name + " is not UTF-8 text";
    else if (*seen) *why = name + " is given twice";
    if (!why->empty()) return false;
    *seen = true;
    (name == "--command-line" ? o->userLine : o->installedAs) = wide;
    return true;
}

int CmdExplain(const std::vector<std::string>& args, std::string* out, std::string* err) {
    ExplainOptions o;
    bool hasLine = false;
    auto take = [&](const std::string& name, const std::string& value, std::string* why) {
        o.json = o.json || name == "--json";
        return TakeExplainOption(&o, &hasLine, name, value, why);
    };
    const std::vector<OptionSpec> options = {{"--json", nullptr, false, true},
                                             {"--command-line", nullptr, true, true},
                                             {"--screen", nullptr, true, false},
                                             {"--installed-as", nullptr, true, true}};
    Arguments a;
    std::string why;
    if (!ReadArguments(args, options, true, take, &a, &why)) return UsageError(err, "explain", why);
    if (a.help) {
        *out += ExplainHelp();
        return kExitOk;
    }
    if (a.positional.size() != 1) return UsageError(err, "explain", a.positional.empty() ? "no executable given" : "give one executable");
    if (hasLine && a.hasRest) return UsageError(err, "explain", "give the user's command line with --command-line or after --, not both");
    if (a.hasRest) {
        std::string joined;
        for (std::size_t i = 0; i < a.rest.size(); ++i) joined += (i ? " " : "") + a.rest[i];
        bool utf8 = true;
        o.userLine = text::Utf8ToWide(joined, &utf8);
        if (!utf8) return UsageError(err, "explain", "the arguments are not UTF-8 text");
    }
    o.file = a.positional[0];
    return Told(RunExplain(o), out, err);
}

// One row per command: its name, its help, and what runs it. A command
// reads its arguments, runs, and tells its Outcome with PrintOutcome.
struct Command {
    const char* name;
    std::string (*help)();
    int (*run)(const std::vector<std::string>& args, std::string* out, std::string* err);
};

const Command kCommands[] = {
    {"pack", PackHelp, CmdPack},
    {"show", ShowHelp, CmdShow},
    {"explain", ExplainHelp, CmdExplain},
    {"preview", PreviewHelp, CmdPreview},
    {"cab", CabHelp, CmdCab},
};

const Command* FindCommand(const std::string& name) {
    for (const Command& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

int RunCommand(const std::vector<std::string>& args, std::string* out, std::string* err) {
    if (args.empty()) {
        *err += kToolHelp;
        return kExitUsage;
    }
    const std::string& cmd = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (cmd == "-h" || cmd == "--help" || (cmd == "help" && rest.empty())) {
        *out += kToolHelp;
        return kExitOk;
    }
    if (cmd == "help") {
        const Command* c = FindCommand(rest[0]);
        if (c == nullptr) return UsageError(err, "help", "no command " + rest[0]);
        *out += c->help();
        return kExitOk;
    }
    if (cmd == "--version") {
        *out += std::string("kelpack ") + kVersion + "\n";
        return kExitOk;
    }
    if (const Command* c = FindCommand(cmd)) return c->run(rest, out, err);
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
