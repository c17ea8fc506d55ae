#include "pack_options.h"

#include "contract/kel.h"
#include "copy_contents.h"
#include "fileio.h"
#include "splash/config.h"

namespace kelpack {

namespace {

bool SetBackground(PackOptions* o, const std::string& value, std::string* why) {
    if (ParseColour(value, &o->background)) return true;
    *why = "--background \"" + value + "\": give a colour as RRGGBB, six hex digits";
    return false;
}

bool AddSplash(PackOptions* o, const std::string& value, std::string* why) {
    SplashOption s;
    if (!ParseSplashOption(value, &s, why, IsRegularFile)) {
        *why = "--splash " + *why;
        return false;
    }
    o->splashes.push_back(s);
    return true;
}

bool AddBitmap(PackOptions* o, const std::string& value, std::string* why) {
    std::size_t eq = value.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == value.size()) {
        *why = "--bitmap needs NAME=FILE, not \"" + value + "\"";
        return false;
    }
    o->bitmaps.push_back({value.substr(0, eq), value.substr(eq + 1)});
    return true;
}

bool CheckPackOptions(PackOptions* o, std::string* why) {
    *why = PackOptionsProblem(*o);
    return why->empty();
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

const CommandSpec<PackOptions>& PackSpec() {
    static const CommandSpec<PackOptions> spec = [] {
        // The help names the launcher's resources from the contract, so
        // that it says what pack writes.
        const std::string text = ContractName(kel::kTextResourceType);
        CommandSpec<PackOptions> c;
        c.name = "pack";
        c.usage = {"kelpack pack LAUNCHER -o OUTPUT [options]"};
        c.summary = "write a launcher copy carrying an application";
        c.about = "Writes OUTPUT, a copy of the launcher executable LAUNCHER (PE32 or PE32+, any\n"
                  "machine) that carries what the options give. Resources the options do not\n"
                  "name are kept as they are; those they name are replaced. LAUNCHER is never\n"
                  "changed, and OUTPUT is written whole or not at all. Every input is checked\n"
                  "first; nothing is written when one is rejected.\n";
        c.column = 29;
        c.options = {
            {{"--output", "-o", "FILE", false}, "the launcher copy to write (required)", Sets<&PackOptions::output>},
            {{"--app", nullptr, "FILE", false},
             "the application package (resource " + ContractName(kel::kApplicationResourceType) + ",\n" +
                 ContractName(kel::kApplicationResourceName) + ")",
             Sets<&PackOptions::appFile>, true},
            {{"--command-line", nullptr, "TEXT", false},
             "the embedded command line (resource " + text + ",\n" + ContractName(kel::kCommandLineResourceName) +
                 "); no CR, LF or NUL",
             SetsGiven<&PackOptions::hasCommandLine, &PackOptions::commandLine>, true},
            {{"--splash", nullptr, "[WxH:]IMAGE[:NAME]", true},
             "a splash picture to offer on screens of at least\n"
             "WxH pixels (default: the picture's own size),\n"
             "packed as NAME (default: the file's name);\n"
             "repeat for each size. Writes the configuration\n"
             "(resource " + text + ", " + ContractName(kel::kConfigResourceName) + ") from these and --title.\n"
             "Entries go in an order that gives each screen\n"
             "the largest one that fits it (smallest first,\n"
             "when the order given does not)\n"
             "WxH is digits, x or X, digits; the rest is IMAGE\n"
             "alone when it names a file (a path with \":\"),\n"
             "and ./240x320:a.png names a file called so",
             AddSplash, true},
            {{"--title", nullptr, "TEXT", false},
             "the splash window's title (default \"" + std::string(splash::kDefaultSplashTitle) + "\");\n"
             "alone, it changes the title of the configuration\n"
             "the launcher carries; no control characters",
             SetsGiven<&PackOptions::hasTitle, &PackOptions::title>, true},
            {{"--config", nullptr, "FILE", false},
             "the configuration text from a file, as\n"
             "SplashScreen=WxH;NAME|...|SplashScreenTitle=TEXT;\n"
             "the pictures it names come from --bitmap, or from\n"
             "files of those names beside FILE",
             SetsGiven<&PackOptions::hasConfig, &PackOptions::configFile>, true},
            {{"--bitmap", nullptr, "NAME=IMAGE", true},
             "packs IMAGE as the splash bitmap NAME (resource\n" + ContractName(kel::kSplashResourceType) + ", NAME)",
             AddBitmap, true},
            {{"--background", nullptr, "RRGGBB", false},
             "the colour transparent pixels are laid over\n"
             "(hex, #RRGGBB too; default " + ColourText(kDefaultBackground) + ", the splash\n"
             "window's white)",
             SetBackground},
            {{"--fit", nullptr, nullptr, true},
             "scales each splash picture down (never up) to fit\n"
             "the size of the configuration entries that name\n"
             "it, keeping its proportions",
             Sets<&PackOptions::fit>},
            {{"--icon", nullptr, "FILE", false},
             "the application icon (icon group " + std::to_string(kel::kIconGroupId) + "): an .ico\n"
             "as it is, or any picture kelpack reads, made into\n"
             "16, 32 and 48 pixel icons at 4, 8 and 32 bits",
             Sets<&PackOptions::iconFile>, true},
            {{"--hi-res-aware", nullptr, nullptr, true},
             "marks the copy ready for high-resolution screens\n"
             "(resource " + ContractName(kel::kHiResAwareResourceType) + ", " +
                 ContractName(kel::kHiResAwareResourceName) + "): a 480x640\n"
             "Pocket PC then tells it, and its engine, the real\n"
             "screen size instead of doubling a 240x320 one",
             Sets<&PackOptions::hiResAware>, true},
            {{"--keep-unused", nullptr, nullptr, true},
             "keeps splash bitmaps of LAUNCHER that no entry of the\n"
             "configuration names (they are dropped otherwise)",
             Sets<&PackOptions::keepUnused>},
            {{"--allow-large", nullptr, nullptr, true},
             "writes a copy larger than the 32 MiB a Windows CE\n"
             "4.20 process has for its image, heap and stacks\n"
             "(for desktop Windows; a device cannot start it)",
             Sets<&PackOptions::allowLarge>},
        };
        c.epilogue = "Splash pictures may be PNG, JPEG, GIF (the first frame) or BMP files of any\n"
                     "kind, at most 65535 pixels a side and " + std::to_string(kMaxPicturePixels >> 20) + " Mi pixels in all. Each\n"
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
        c.file = &PackOptions::launcher;
        c.noFile = "no launcher executable given";
        c.moreFiles = "more than one launcher executable given";
        c.check = CheckPackOptions;
        return c;
    }();
    return spec;
}

std::string SplashOptionText(const SplashOption& s) {
    std::string text = "--splash ";
    if (s.hasSize) text += std::to_string(s.width) + "x" + std::to_string(s.height) + ":";
    text += s.file;
    if (s.name != BaseName(s.file)) text += ":" + s.name;
    return text;
}

}  // namespace kelpack
