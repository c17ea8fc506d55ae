#include "pack.h"

#include <algorithm>
#include <cstdio>

#include "bitmap_check.h"
#include "contract/kel.h"
#include "copy_contents.h"
#include "fileio.h"
#include "ico.h"
#include "image_limits.h"
#include "image.h"
#include "launcher_view.h"
#include "splash/config.h"
#include "wording.h"

namespace kelpack {

namespace {

std::string DirName(const std::string& path) {
    std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::vector<std::uint8_t> ToBytes(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }

// Collects problems so that one run reports all of them.
struct Checks {
    PackResult* result;
    bool readFailed = false;
    bool rejected = false;
    bool clash = false;  // an input is the output: a usage error, nothing is read further
    // A file given twice (one picture at two sizes) fails the same way twice;
    // the user hears it once.
    static void Once(std::vector<std::string>* list, const std::string& text) {
        if (std::find(list->begin(), list->end(), text) == list->end()) list->push_back(text);
    }
    void Unreadable(const std::string& file, const std::string& why) {
        Once(&result->errors, file + ": cannot read: " + why);
        readFailed = true;
    }
    void Reject(const std::string& file, const std::string& why) {
        Once(&result->errors, file + ": " + why);
        rejected = true;
    }
    void Warn(const std::string& text) { Once(&result->warnings, text); }
};

// A splash picture read and decoded, waiting to be written once the
// configuration it serves is known.
struct SplashPicture {
    std::string name;
    std::string file;
    std::string option;  // the option that packs it, as messages name it (--splash 240x320:a.png)
    std::vector<std::uint8_t> original;
    Picture picture;
    ImageSource source;
};

// Reads and decodes one splash picture file.
bool LoadPicture(Checks* c, const std::string& file, Rgb background, SplashPicture* out) {
    std::string why;
    std::uint64_t size = 0;
    if (!FileSize(file, &size, &why)) {
        c->Unreadable(file, why);
        return false;
    }
    if (size > kMaxPictureFileBytes) {
        c->Reject(file, "it is " + std::to_string(size) + " bytes, more than any picture of at most " +
                            std::to_string(kMaxImagePixels) + " pixels, the most kelpack decodes, takes");
        return false;
    }
    if (!ReadFile(file, &out->original, &why)) {
        c->Unreadable(file, why);
        return false;
    }
    if (!DecodeImage(out->original, background, &out->picture, &out->source, &why)) {
        c->Reject(file, "cannot be packed as a splash picture: " + why);
        return false;
    }
    return true;
}

std::string SizeText(std::int64_t w, std::int64_t h) { return std::to_string(w) + "x" + std::to_string(h); }

// The bitmap written for a picture, and the note that tells what it became. A
// launcher BMP already at the depth of its smallest exact file, and not
// scaled, is packed byte for byte; every other picture is encoded anew.
// `coloursBefore` counts the colours of a scaled picture before scaling.
bool WritePicture(const SplashPicture& s, bool scaled, std::uint32_t coloursBefore, const std::string& how, Rgb background,
                  std::vector<std::uint8_t>* bytes, std::string* note, std::string* error) {
    EncodedBmp e = EncodeBmp(s.picture);
    std::string size = SizeText(s.picture.width, s.picture.height);
    if (!scaled && s.source.launcherBmp && s.source.bitCount == e.bitCount) {
        *bytes = s.original;
        *note = s.file + ": " + size + ", packed as it is: " + std::to_string(e.bitCount) +
                "-bit already gives the smallest file that holds it exactly, " + std::to_string(bytes->size()) + " bytes";
        return true;
    }
    // What was written must come back from the launcher's decoder pixel for pixel.
    Picture back;
    if (!LauncherPixels(e.bytes, &back, error) || back.rgb != s.picture.rgb) {
        if (error->empty()) *error = "the bitmap written does not decode to the same pixels";
        return false;
    }
    *bytes = std::move(e.bytes);
    // What stood between the stored pixels and the upright picture.
    static const char* const kTurned[] = {"", "", "mirrored left to right", "turned half round", "mirrored top to bottom",
                                          "turned a quarter clockwise and mirrored", "turned a quarter clockwise",
                                          "turned a quarter anticlockwise and mirrored", "turned a quarter anticlockwise"};
    *note = s.file + ": ";
    if (s.source.orientation > 1 && s.source.orientation <= 8)
        *note += std::string(kTurned[s.source.orientation]) + " as its EXIF orientation " +
                 std::to_string(s.source.orientation) + " says, then ";
    *note += how + size;
    *note += ", written as " + std::to_string(e.bitCount) + "-bit";
    std::uint64_t full = Bmp24Bytes(s.picture.width, s.picture.height);
    if (e.bitCount != 24) {
        *note += std::string(" with ") + ArticleFor(e.colours) + " " + std::to_string(e.colours) + "-colour palette, " +
                 Counted(bytes->size(), "byte") + " (" + std::to_string(full - bytes->size()) + " fewer than 24-bit)";
    } else if (e.paletteBits != 0) {
        // A tiny picture's palette can outweigh what its narrower rows save.
        *note += " (its " + Counted(e.distinct, "colour") + " would take " + std::to_string(e.paletteFileBytes - full) +
                 " bytes more at " + std::to_string(e.paletteBits) + " bits, for the palette), " + Counted(bytes->size(), "byte");
    } else if (scaled && coloursBefore <= kMaxPaletteColours) {
        *note += " (scaling blended its " + Counted(coloursBefore, "colour") +
                 " into more than 256; a picture made at the entry's size keeps a palette), " + Counted(bytes->size(), "byte");
    } else {
        *note += " (it has more than 256 colours), " + Counted(bytes->size(), "byte");
    }
    if (s.source.transparent) *note += "; transparent pixels laid over " + ColourText(background);
    if (s.source.endMarkerMissing)
        *note += "; the file lacks the end-of-image marker a JPEG ends with, but every pixel is there, so it is read "
                 "as other viewers show it";
    return true;
}

}  // namespace

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

std::string BaseName(const std::string& path) {
    std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ParseSplashOption(const std::string& text, SplashOption* out, std::string* error,
                       const std::function<bool(const std::string&)>& isFile) {
    *out = SplashOption();
    std::string rest = text;
    // What stands before the first ':' is a size when it looks like one: two
    // numbers (a sign allowed, to be refused) around one "x" or "X".
    auto looksLikeSize = [](const std::string& t) {
        std::size_t x = t.find_first_of("xX");
        auto number = [](const std::string& n) {
            std::size_t digits = !n.empty() && (n[0] == '-' || n[0] == '+') ? 1 : 0;
            return n.size() > digits && n.find_first_not_of("0123456789", digits) == std::string::npos;
        };
        return x != std::string::npos && number(t.substr(0, x)) && number(t.substr(x + 1));
    };
    std::size_t colon = rest.find(':');
    if (colon != std::string::npos && looksLikeSize(rest.substr(0, colon))) {
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

namespace {

// The output, and the temporary file it is written through, as files: an
// input that is either would be overwritten, whatever path names it.
struct OutputGuard {
    const PackOptions* options;
    FileIdentity output = IdentifyFile(options->output);
    FileIdentity temporary = IdentifyFile(TemporaryPath(options->output));
    // False, with the error in `c`, when `path` (given as `what`) is one of them.
    bool Allows(Checks* c, const std::string& path, const std::string& what) const {
        FileIdentity input = IdentifyFile(path);
        std::string why;
        if (SameIdentity(input, output))
            why = "-o " + options->output + " and " + what + " are the same file; kelpack never changes its input, "
                  "so choose another output";
        else if (SameIdentity(input, temporary))
            why = what + " is " + TemporaryPath(options->output) + ", the temporary file kelpack writes -o " +
                  options->output + " through; rename it or choose another output";
        if (why.empty()) return true;
        c->result->errors.push_back(why);
        c->clash = true;
        return false;
    }
};

// The option, as given, that packs a --splash picture.
std::string SplashOptionText(const SplashOption& s) {
    std::string text = "--splash ";
    if (s.hasSize) text += std::to_string(s.width) + "x" + std::to_string(s.height) + ":";
    text += s.file;
    if (s.name != BaseName(s.file)) text += ":" + s.name;
    return text;
}

}  // namespace

PackResult RunPack(const PackOptions& o) {
    PackResult result;
    Checks c{&result};
    // The most the written image may take: the device's slot, or with
    // --allow-large what the PE format holds. A file that alone passes it is
    // refused before it is read.
    const std::uint64_t ceiling = o.allowLarge ? kMaxPeBytes : kDeviceSlotBytes;
    auto tooLarge = [&](const std::string& what, std::uint64_t size) {
        if (size <= ceiling) return false;
        c.Reject(what, o.allowLarge ? "it is " + MibText(size) + ", more than the 4 GiB a PE image can hold"
                                    : "it is " + MibText(size) + " alone, so " + ImageSizeRefusal(size));
        return true;
    };

    // No input may be the output: every file named on the command line is
    // checked before anything is read.
    const OutputGuard guard{&o};
    guard.Allows(&c, o.input, "the launcher " + o.input);
    if (!o.appFile.empty()) guard.Allows(&c, o.appFile, "--app " + o.appFile);
    if (!o.iconFile.empty()) guard.Allows(&c, o.iconFile, "--icon " + o.iconFile);
    if (!o.configFile.empty()) guard.Allows(&c, o.configFile, "--config " + o.configFile);
    for (const SplashOption& s : o.splashes) guard.Allows(&c, s.file, SplashOptionText(s));
    for (const BitmapOption& b : o.bitmaps) guard.Allows(&c, b.file, "--bitmap " + b.name + "=" + b.file);
    if (c.clash) {
        result.exitCode = kExitUsage;
        return result;
    }

    std::vector<std::uint8_t> bytes;
    std::string why;
    std::uint64_t inputSize = 0;
    if (!FileSize(o.input, &inputSize, &why)) {
        result.errors.push_back(o.input + ": cannot read: " + why);
        result.exitCode = kExitRead;
        return result;
    }
    if (tooLarge("the launcher " + o.input, inputSize)) {
        result.exitCode = kExitRejected;
        return result;
    }
    if (!ReadFile(o.input, &bytes, &why)) {
        result.errors.push_back(o.input + ": cannot read: " + why);
        result.exitCode = kExitRead;
        return result;
    }
    PeImage image;
    ResourceList res;
    if (!ParsePe(std::move(bytes), &image, &why) || !ReadResourceEntries(image, &res, &why)) {
        result.errors.push_back(o.input + ": " + why);
        result.exitCode = kExitBadImage;
        return result;
    }
    // The application package stays in the launcher's file and is copied
    // from there; everything else kelpack reads or rewrites is held.
    const ResId app = AppType();
    LoadLeafData(image, &res, &app);
    for (Resource& r : res)
        if (r.source.external) r.source.path = o.input;
    for (const std::string& w : LauncherWarnings(image)) c.Warn("the launcher " + o.input + ": " + w);

    if (!o.appFile.empty()) {
        // Only its size is taken now; its bytes are copied as the output is written.
        LeafSource package;
        package.external = true;
        package.path = o.appFile;
        if (!FileSize(o.appFile, &package.size, &why)) {
            c.Unreadable(o.appFile, why);
        } else if (!tooLarge("--app " + o.appFile, package.size)) {
            if (package.size == 0) c.Warn("--app " + o.appFile + ": the application package is empty");
            PutFileResource(&res, AppType(), AppName(), package);
        }
    }

    if (o.hasCommandLine) {
        std::string warning;
        if (!CheckCommandLine(o.commandLine, &why, &warning)) c.Reject("--command-line", why);
        else PutResource(&res, TextType(), CommandLineName(), ToBytes(o.commandLine));
        if (!warning.empty()) c.Warn("--command-line: " + warning);
    }

    if (!o.iconFile.empty()) {
        std::vector<std::uint8_t> ico;
        std::vector<IconImage> images;
        std::vector<std::string> warnings;
        std::string note;
        std::uint64_t size = 0;
        if (!FileSize(o.iconFile, &size, &why)) c.Unreadable(o.iconFile, why);
        else if (tooLarge("--icon " + o.iconFile, size)) {}
        else if (!ReadFile(o.iconFile, &ico, &why)) c.Unreadable(o.iconFile, why);
        else if (!LoadIcon(ico, &images, &warnings, &note, &why)) c.Reject(o.iconFile, why);
        else PutIconGroup(&res, kel::kIconGroupId, images);
        for (const std::string& w : warnings) c.Warn(o.iconFile + ": " + w);
        if (!note.empty()) result.notes.push_back(o.iconFile + ": " + note);
    }

    if (o.hasTitle && !CheckTitle(o.title, &why)) c.Reject("--title", why);

    // Bitmaps given by name; they may serve a --config file or the default
    // configuration.
    std::vector<std::string> packedNames;
    std::vector<SplashPicture> pictures;
    auto addBitmap = [&](const std::string& name, const std::string& file, const std::string& option) {
        std::string err;
        if (!CheckSplashName(name, &err)) {
            c.Reject(file, err);
            return;
        }
        for (std::size_t i = 0; i < packedNames.size(); ++i) {
            if (!ResIdMatches(ResNameUpper(packedNames[i]), ResNameUpper(name))) continue;
            std::string why = "the bitmap name \"" + name + "\" is given twice (names ignore letter case)";
            // One picture for two sizes needs a name for each.
            std::string each;
            for (const SplashOption& so : o.splashes) {
                if (so.file != file || !so.hasSize) continue;
                std::size_t dot = name.rfind('.');
                std::string size = SizeText(so.width, so.height);
                each += " --splash " + size + ":" + file + ":" + name.substr(0, dot) + "-" + size +
                        (dot == std::string::npos ? "" : name.substr(dot));
            }
            if (pictures[i].file == file && !each.empty())
                why += "; to offer one picture at several sizes, give each its own name:" + each;
            c.Reject(file, why);
            return;
        }
        SplashPicture picture;
        picture.name = name;
        picture.file = file;
        picture.option = option;
        if (!LoadPicture(&c, file, o.background, &picture)) return;
        packedNames.push_back(name);
        pictures.push_back(std::move(picture));
    };
    for (const BitmapOption& b : o.bitmaps) addBitmap(b.name, b.file, "--bitmap " + b.name + "=" + b.file);

    // The configuration text, when this run writes one.
    bool writeConfig = false;
    std::string config;
    std::string configOrigin;
    std::uint64_t configSize = 0;
    if (!o.configFile.empty() && !FileSize(o.configFile, &configSize, &why)) {
        c.Unreadable(o.configFile, why);
    } else if (!o.configFile.empty() && tooLarge("--config " + o.configFile, configSize)) {
        // refused: a configuration that large is no configuration
    } else if (!o.configFile.empty()) {
        std::vector<std::uint8_t> text;
        if (!ReadFile(o.configFile, &text, &why)) {
            c.Unreadable(o.configFile, why);
        } else {
            config.assign(text.begin(), text.end());
            // Editors end files with a newline; the launcher would read it as
            // part of the last value.
            while (!config.empty() && (config.back() == '\n' || config.back() == '\r')) config.pop_back();
            if (config.find('\0') != std::string::npos) c.Reject(o.configFile, "it has a NUL byte, which ends the configuration early");
            else if (config.find_first_of("\r\n") != std::string::npos)
                c.Reject(o.configFile, "it has a line break inside; entries are separated by \"|\" on one line");
            writeConfig = true;
            configOrigin = "--config " + o.configFile;
            // Bitmaps the file names and no --bitmap gave are looked for next to it.
            for (const ConfigEntry& e : SplitConfig(config)) {
                if (e.key != splash::kSplashKey || !e.hasValue) continue;
                std::string name = ParseSplashValue(e.value).name;
                bool given = false;
                for (const std::string& n : packedNames) given = given || ResIdMatches(ResNameUpper(n), ResNameUpper(name));
                if (given || !CheckSplashName(name, &why)) continue;
                std::string beside = DirName(o.configFile) + name;
                std::uint64_t size = 0;
                if (!FileSize(beside, &size, &why)) continue;
                if (guard.Allows(&c, beside, beside + ", the picture beside --config " + o.configFile))
                    addBitmap(name, beside, "--config " + o.configFile + " (" + beside + " beside it)");
            }
        }
    } else if (!o.splashes.empty()) {
        std::vector<SplashEntry> entries;
        for (const SplashOption& s : o.splashes) {
            std::size_t before = packedNames.size();
            addBitmap(s.name, s.file, SplashOptionText(s));
            if (packedNames.size() == before) continue;
            const Picture& p = pictures.back().picture;
            SplashEntry e;
            e.width = s.hasSize ? s.width : static_cast<std::uint32_t>(p.width);
            e.height = s.hasSize ? s.height : static_cast<std::uint32_t>(p.height);
            e.name = s.name;
            entries.push_back(e);
        }
        writeConfig = true;
        config = BuildConfig(entries, o.hasTitle ? &o.title : nullptr);
        configOrigin = "--splash";
    } else if (o.hasTitle) {
        // A new title for the configuration the launcher already carries.
        writeConfig = true;
        configOrigin = "--title";
        std::vector<ConfigEntry> entries;
        if (const Resource* old = FindResource(res, TextType(), ConfigName()))
            entries = SplitConfig(std::string(old->data.begin(), old->data.end()));
        else
            c.Warn("--title: the launcher has no splash configuration; the new one names no splash bitmap, so none is shown");
        std::string text;
        for (const ConfigEntry& e : entries) {
            if (e.key == splash::kSplashTitleKey || (e.key.empty() && !e.hasValue && entries.size() == 1)) continue;
            if (!text.empty()) text += '|';
            text += e.key + (e.hasValue ? "=" + e.value : "");
        }
        config = text + (text.empty() ? "" : "|") + splash::kSplashTitleKey + "=" + o.title;
    }
    if (c.clash) {
        result.exitCode = kExitUsage;
        return result;
    }
    if (o.hasTitle && !o.configFile.empty()) c.Reject("--title", "cannot be combined with --config; put the title in the file");
    // The entries themselves are this run's (not only a new title for old ones).
    const bool entriesWritten = writeConfig && configOrigin != "--title";

    if (writeConfig) PutResource(&res, TextType(), ConfigName(), ToBytes(config));
    if (o.hasTitle) {
        std::string warning = TitleWarning(o.title);
        if (!warning.empty()) c.Warn("--title: " + warning);
    }

    // The configuration the copy will carry: the one written, the launcher's
    // own, or the default one.
    const Resource* cfgResource = FindResource(res, TextType(), ConfigName());
    const bool carriesConfig = cfgResource != nullptr;  // the pointer does not outlive the next PutResource
    const std::string finalConfig = cfgResource ? std::string(cfgResource->data.begin(), cfgResource->data.end())
                                                : std::string(splash::kDefaultSplashConfig);
    // Whether an entry of that configuration names a bitmap, as the launcher looks it up.
    std::vector<ResId> namedBitmaps;
    for (const ConfigEntry& e : SplitConfig(finalConfig))
        if (e.key == splash::kSplashKey && e.hasValue) namedBitmaps.push_back(LauncherLookupName(ParseSplashValue(e.value).name));
    auto named = [&](const ResId& bitmap) {
        for (const ResId& n : namedBitmaps)
            if (ResIdMatches(n, bitmap)) return true;
        return false;
    };

    // Each picture, scaled to its entries with --fit, goes in as a bitmap the
    // launcher shows.
    for (SplashPicture& s : pictures) {
        // Packed all the same: it was asked for, and a later --config may name it.
        if (!named(ResNameUpper(s.name)))
            c.Warn(s.option + ": no entry of the configuration names the bitmap \"" + s.name +
                   "\", so the launcher never shows it (a later repack drops it, unless given --keep-unused)");
        std::string how;
        bool scaled = false;
        std::uint32_t coloursBefore = 0;
        if (o.fit) {
            // A picture several entries name must fit the smallest of them.
            std::uint32_t boxW = 0, boxH = 0;
            for (const ConfigEntry& e : SplitConfig(finalConfig)) {
                if (e.key != splash::kSplashKey || !e.hasValue) continue;
                SplashEntry entry = ParseSplashValue(e.value);
                if (!ResIdMatches(ResNameUpper(entry.name), ResNameUpper(s.name)) || entry.width == 0 || entry.height == 0)
                    continue;
                boxW = boxW == 0 ? entry.width : std::min(boxW, entry.width);
                boxH = boxH == 0 ? entry.height : std::min(boxH, entry.height);
            }
            std::int32_t w = 0, h = 0;
            FitSize(s.picture.width, s.picture.height, boxW, boxH, &w, &h);
            if (w != s.picture.width || h != s.picture.height) {
                Picture smaller;
                if (!ScalePicture(s.picture, w, h, &smaller)) {
                    c.Reject(s.file, "cannot be scaled to " + SizeText(w, h));
                    continue;
                }
                how = SizeText(s.picture.width, s.picture.height) + " scaled to fit " + SizeText(boxW, boxH) + ": ";
                coloursBefore = CountColours(s.picture, kMaxPaletteColours + 1);
                s.picture = std::move(smaller);
                scaled = true;
            }
        }
        std::vector<std::uint8_t> bitmap;
        std::string note;
        if (!WritePicture(s, scaled, coloursBefore, how, o.background, &bitmap, &note, &why)) {
            c.Reject(s.file, why);
            continue;
        }
        // Only the bitmap is needed from here on.
        s.picture = Picture();
        s.original = std::vector<std::uint8_t>();
        result.notes.push_back(note);
        PutResource(&res, SplashType(), ResNameUpper(s.name), std::move(bitmap));
    }

    // Bitmaps the launcher carried that no entry names any more take room
    // and are never shown.
    if (!o.keepUnused) {
        ResourceList kept;
        for (Resource& r : res) {
            bool packedNow = false;
            for (const SplashPicture& p : pictures) packedNow = packedNow || ResIdMatches(ResNameUpper(p.name), r.name);
            if (!ResIdMatches(r.type, SplashType()) || named(r.name) || packedNow) {
                kept.push_back(std::move(r));
                continue;
            }
            result.notes.push_back(ResIdText(r.name, false) + ": no entry of the configuration names this splash bitmap of " +
                                   o.input + " any more; dropped, " + std::to_string(LeafSize(r)) +
                                   " bytes saved (--keep-unused keeps it)");
        }
        res = std::move(kept);
    }

    // What the launcher will read: every bitmap the configuration names. A
    // configuration this run wrote must be complete; one kept from the
    // launcher (or the default one, once bitmaps were given for it) is only
    // warned about. Sizes are judged where this run chose them, in an entry
    // it wrote or a bitmap it packed: a repack that changes only the title
    // or the icon does not repeat what the first pack said or chose with --fit.
    {
        const std::string& text = finalConfig;
        std::string where = writeConfig ? configOrigin
                            : carriesConfig ? "the launcher's " + ContractName(kel::kConfigResourceName)
                                      : "the default configuration";
        bool strict = entriesWritten;
        bool care = writeConfig || carriesConfig || !packedNames.empty();
        bool any = false;
        for (const ConfigEntry& e : SplitConfig(text)) {
            if (e.key != splash::kSplashKey || !e.hasValue) continue;
            any = true;
            SplashEntry s = ParseSplashValue(e.value);
            const Resource* r = FindLauncherResource(res, SplashType(), s.name);
            if (!r) {
                std::string msg = "names the splash bitmap \"" + s.name + "\", which is not packed (give it with --bitmap " +
                                  s.name + "=FILE)";
                if (strict) c.Reject(where, msg);
                else if (care) c.Warn(where + ": " + msg);
                continue;
            }
            const SplashPicture* packed = nullptr;
            for (const SplashPicture& p : pictures)
                if (ResIdMatches(ResNameUpper(p.name), r->name)) packed = &p;
            const std::string& cause = packed != nullptr ? packed->option : where;
            BmpInfo info;
            if (!CheckBitmap(r->data, &info, &why)) {
                c.Warn(cause + ": the packed bitmap \"" + s.name + "\" will not be shown: " + why);
                continue;
            }
            if (packed == nullptr && !entriesWritten) continue;
            bool differs = s.width != static_cast<std::uint32_t>(info.width) || s.height != static_cast<std::uint32_t>(info.height);
            // Fitted on purpose: smaller than its entry is what --fit asked for.
            bool fitted = o.fit && static_cast<std::uint32_t>(info.width) <= s.width &&
                          static_cast<std::uint32_t>(info.height) <= s.height;
            if (differs && !fitted)
                c.Warn(cause + ": the entry for \"" + s.name + "\" says " + std::to_string(s.width) + "x" +
                       std::to_string(s.height) + " but the bitmap is " + std::to_string(info.width) + "x" +
                       std::to_string(info.height) + "; the launcher chooses by the configured size and shows the bitmap at its own");
        }
        if (strict && !any && !c.rejected && !c.readFailed) c.Warn(where + ": the configuration names no splash bitmap, so none is shown");
        if (care && (entriesWritten || !pictures.empty())) {
            splash::SplashConfig* parsed = splash::ParseSplashConfig(text.data(), static_cast<std::uint32_t>(text.size()));
            for (const std::string& entry : UnreachableSplashEntries(parsed))
                c.Warn(where + ": the entry " + entry +
                       " is chosen on no screen: the launcher takes the first entry on every screen and replaces it only "
                       "by a later one that fits the screen and is larger; give the smaller sizes first");
            splash::FreeSplashConfig(parsed);
        }
    }

    // Options that do nothing are most likely a slip; say so.
    const bool anything = !o.appFile.empty() || o.hasCommandLine || !o.splashes.empty() || o.hasTitle ||
                          !o.configFile.empty() || !o.bitmaps.empty() || !o.iconFile.empty();
    if (!anything)
        c.Warn("nothing to pack: no --app, --command-line, --splash, --title, --config, --bitmap or --icon is given, so "
               "the output is a copy of the launcher with the resources it has");
    const bool sized = !o.configFile.empty() || !o.bitmaps.empty() ||
                       std::any_of(o.splashes.begin(), o.splashes.end(), [](const SplashOption& s) { return s.hasSize; });
    if (o.fit && !sized)
        c.Warn("--fit: no splash entry is given a size (--splash WxH:IMAGE), so each picture is offered at its own size and "
               "nothing is scaled");

    if (c.readFailed || c.rejected) {
        result.exitCode = c.readFailed ? kExitRead : kExitRejected;
        return result;
    }

    // Laid out from the sizes alone, so that a copy the device cannot load is
    // refused before the package is read.
    std::uint64_t total = inputSize;
    for (const Resource& r : res) total += LeafSize(r);
    if (total > kMaxPeBytes) {
        result.errors.push_back(o.output + ": the copy would hold " + MibText(total) + ", more than the 4 GiB a PE image can hold");
        result.exitCode = kExitRejected;
        return result;
    }
    PlannedImage plan;
    RsrcPlacement placement;
    std::vector<std::string> layoutWarnings;
    if (!PlanResources(image, res, &plan, &placement, &layoutWarnings, &why)) {
        result.errors.push_back(o.input + ": " + why);
        result.exitCode = kExitBadImage;
        return result;
    }
    for (const std::string& w : layoutWarnings) result.warnings.push_back("the launcher " + o.input + ": " + w);
    if (plan.sizeOfImage > kDeviceSlotBytes && !o.allowLarge) {
        result.errors.push_back(o.output + ": " + ImageSizeRefusal(plan.sizeOfImage));
        result.exitCode = kExitRejected;
        return result;
    }
    std::string sizeWarning = ImageSizeWarning(plan.sizeOfImage);
    if (!sizeWarning.empty()) result.warnings.push_back(o.output + ": " + sizeWarning);
    // The launcher's bytes are all in the plan now; the read-back below
    // holds the whole output, and nothing else large is held beside it.
    image = PeImage();
    if (!FinishChecksum(&plan, &why)) {
        result.errors.push_back(why);
        result.exitCode = kExitRead;
        return result;
    }
    // What was written is read back as any reader of the launcher would,
    // before it takes the output's name: an image that does not read back
    // as written is a launcher no loader accepts.
    auto readsBack = [&](std::vector<std::uint8_t>& back, std::string* reason) {
        return CheckWrittenImage(std::move(back), res, reason);
    };
    auto content = [&](const ByteSink& sink, std::string* error) { return EmitImage(plan, sink, error); };
    switch (WriteFileChecked(o.output, content, o.input, readsBack, &why)) {
        case WriteOutcome::kWritten:
            break;
        case WriteOutcome::kRefused:
            result.errors.push_back(o.input + ": the packed copy does not read back as written: " + why);
            result.exitCode = kExitBadImage;
            return result;
        case WriteOutcome::kFailed:
            result.errors.push_back(o.output + ": " + why);
            result.exitCode = kExitWrite;
            return result;
    }
    const char* where = placement == RsrcPlacement::kAppended ? "in a new .rsrc section"
                        : placement == RsrcPlacement::kNone  ? "(no resources)"
                                                             : "in the resource section";
    result.summary = "wrote " + o.output + ": " + Counted(res.size(), "resource") + " " + where + ", " +
                     std::to_string(plan.fileSize) + " bytes";
    return result;
}

}  // namespace kelpack
