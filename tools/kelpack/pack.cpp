#include "pack.h"

#include <algorithm>
#include <cstdio>

#include "bitmap_check.h"
#include "contract/kel.h"
#include "copy_contents.h"
#include "fileio.h"
#include "ico.h"
#include "image_limits.h"
#include "picture.h"
#include "launcher_view.h"
#include "output.h"
#include "pe_write.h"
#include "splash/config.h"
#include "splash_order.h"
#include "wording.h"

namespace kelpack {

namespace {

std::string DirName(const std::string& path) {
    std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::vector<std::uint8_t> ToBytes(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }

// A splash picture read and decoded, waiting to be written once the
// configuration it serves is known.
struct SplashPicture {
    std::string name;
    std::string file;
    std::string option;  // the option that packs it, as messages name it (--splash 240x320:a.png)
    std::vector<std::uint8_t> original;
    Picture picture;
    PictureSource source;
};

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

// Which option a file the run reads comes from.
enum class InputKind { kLauncher, kPackage, kIcon, kConfig, kPicture };

// One file the run reads, as the options name it.
struct Input {
    InputKind kind;
    std::string path;
    std::string what;     // as messages name it: "the launcher kel.exe", "--app game.kel"
    std::uint64_t limit;  // the most bytes it may hold; a larger file is refused before it is read
};

// Every file the options name, in the order they are checked against the
// output. `ceiling` is the most the written image may take.
std::vector<Input> PackInputs(const PackOptions& o, std::uint64_t ceiling) {
    std::vector<Input> in = {{InputKind::kLauncher, o.launcher, "the launcher " + o.launcher, ceiling}};
    if (!o.appFile.empty()) in.push_back({InputKind::kPackage, o.appFile, "--app " + o.appFile, ceiling});
    if (!o.iconFile.empty()) in.push_back({InputKind::kIcon, o.iconFile, "--icon " + o.iconFile, ceiling});
    if (!o.configFile.empty()) in.push_back({InputKind::kConfig, o.configFile, "--config " + o.configFile, ceiling});
    for (const SplashOption& s : o.splashes)
        in.push_back({InputKind::kPicture, s.file, SplashOptionText(s), kMaxPictureFileBytes});
    for (const BitmapOption& b : o.bitmaps)
        in.push_back({InputKind::kPicture, b.file, "--bitmap " + b.name + "=" + b.file, kMaxPictureFileBytes});
    return in;
}

// A pack in the making: what the launcher carries, edited by the named
// steps below in their order, then laid out and written. Problems are
// collected in `result`, so that one run reports all of them.
struct PackPlan {
    explicit PackPlan(const PackOptions& options)
        : o(options), output(options.output), ceiling(options.allowLarge ? kMaxPeBytes : kDeviceSlotBytes),
          inputs(PackInputs(options, ceiling)) {}

    const PackOptions& o;
    Outcome result;
    const Output output;
    // The most the written image may take: the device's slot, or with
    // --allow-large what the PE format holds.
    const std::uint64_t ceiling;
    const std::vector<Input> inputs;

    PeImage image;                        // the launcher, until it is laid out
    ResourceList res;                     // what the copy will carry
    std::uint64_t inputSize = 0;          // the launcher's file
    std::vector<SplashPicture> pictures;  // --bitmap, then beside --config or --splash, in that order

    bool writeConfig = false;             // this run writes CONFIG
    std::string config;                   // its text
    std::string configOrigin;             // the option it comes from, as messages name it

    std::string finalConfig;              // what the copy's launcher reads: the written, kept or default text
    bool carriesConfig = false;           // the copy has a CONFIG resource
    std::vector<ResId> namedBitmaps;      // the bitmaps that text names, as the launcher looks them up

    PlannedImage planned;
    RsrcPlacement placement = RsrcPlacement::kNone;

    const Input& InputOf(InputKind kind) const {
        for (const Input& in : inputs)
            if (in.kind == kind) return in;
        return inputs.front();
    }
    void Reject(const std::string& file, const std::string& why) { result.FailOnce(kExitRejected, file + ": " + why); }
    void Unreadable(const std::string& file, const std::string& why) {
        result.FailOnce(kExitRead, file + ": cannot read: " + why);
    }
    // Whether an entry of the copy's configuration names this bitmap.
    bool Named(const ResId& bitmap) const {
        for (const ResId& n : namedBitmaps)
            if (ResIdMatches(n, bitmap)) return true;
        return false;
    }
    // The picture this run packs under a name, if any.
    const SplashPicture* PackedAs(const ResId& name) const {
        const SplashPicture* packed = nullptr;
        for (const SplashPicture& p : pictures)
            if (ResIdMatches(ResNameUpper(p.name), name)) packed = &p;
        return packed;
    }
};

// Tells why an input could not be read: it is missing or unreadable, or
// larger than the run may take.
void Unread(PackPlan* p, const Input& in, ReadStatus status, std::uint64_t size, const std::string& why) {
    if (status == ReadStatus::kUnreadable) {
        p->Unreadable(in.path, why);
    } else if (in.kind == InputKind::kPicture) {
        p->Reject(in.path, "it is " + std::to_string(size) + " bytes, more than any picture of at most " +
                               std::to_string(kMaxPicturePixels) + " pixels, the most kelpack decodes, takes");
    } else {
        p->Reject(in.what, p->o.allowLarge ? "it is " + MibText(size) + ", more than the 4 GiB a PE image can hold"
                                           : "it is " + MibText(size) + " alone, so " + ImageSizeRefusal(size));
    }
}

// The size-limited read of one input (`bytes` null: its size alone);
// false, with the problem recorded, when it cannot be had.
bool ReadInput(PackPlan* p, const Input& in, std::uint64_t* size, std::vector<std::uint8_t>* bytes) {
    std::string why;
    ReadStatus status = ReadWithin(in.path, in.limit, size, bytes, &why);
    if (status == ReadStatus::kRead) return true;
    Unread(p, in, status, *size, why);
    return false;
}

// No input may be the output: every file named on the command line is
// checked before anything is read.
bool GuardInputs(PackPlan* p) {
    for (const Input& in : p->inputs) p->output.Admit(in.path, in.what, &p->result);
    return p->result.Ok();
}

bool ReadLauncherInput(PackPlan* p) {
    const Input& in = p->InputOf(InputKind::kLauncher);
    std::string why;
    switch (ReadLauncher(in.path, in.limit, &p->image, &p->res, &p->inputSize, &why)) {
        case LauncherRead::kRead: break;
        case LauncherRead::kUnreadable: Unread(p, in, ReadStatus::kUnreadable, p->inputSize, why); return false;
        case LauncherRead::kTooLarge: Unread(p, in, ReadStatus::kTooLarge, p->inputSize, why); return false;
        case LauncherRead::kNotUsable: p->result.Fail(kExitBadImage, in.path + ": " + why); return false;
    }
    for (const std::string& w : LauncherWarnings(p->image)) p->result.Warn(in.what + ": " + w);
    return true;
}

void PackPackage(PackPlan* p) {
    if (p->o.appFile.empty()) return;
    // Only its size is taken now; its bytes are copied as the output is written.
    const Input& in = p->InputOf(InputKind::kPackage);
    LeafSource package;
    package.external = true;
    package.path = in.path;
    if (!ReadInput(p, in, &package.size, nullptr)) return;
    if (package.size == 0) p->result.Warn(in.what + ": the application package is empty");
    PutFileResource(&p->res, AppType(), AppName(), package);
}

void PackCommandLine(PackPlan* p) {
    if (!p->o.hasCommandLine) return;
    std::string why, warning;
    if (!CheckCommandLine(p->o.commandLine, &why, &warning)) p->Reject("--command-line", why);
    else PutResource(&p->res, TextType(), CommandLineName(), ToBytes(p->o.commandLine));
    if (!warning.empty()) p->result.Warn("--command-line: " + warning);
}

void PackIcon(PackPlan* p) {
    if (p->o.iconFile.empty()) return;
    const Input& in = p->InputOf(InputKind::kIcon);
    std::vector<std::uint8_t> ico;
    std::vector<IconImage> images;
    std::vector<std::string> warnings;
    std::string note, why;
    std::uint64_t size = 0;
    if (!ReadInput(p, in, &size, &ico)) return;
    if (!LoadIcon(ico, &images, &warnings, &note, &why)) p->Reject(in.path, why);
    else PutIconGroup(&p->res, kel::kIconGroupId, images);
    for (const std::string& w : warnings) p->result.Warn(in.path + ": " + w);
    if (!note.empty()) p->result.notes.push_back(in.path + ": " + note);
}

// --hi-res-aware: the mark a high-resolution device reads, so that it tells
// the launcher and its engine the real screen size.
void PackHiResMark(PackPlan* p) {
    if (p->o.hiResAware) PutResource(&p->res, HiResAwareType(), HiResAwareName(), HiResMarkBytes());
}

// Reads and decodes one splash picture file.
bool LoadPicture(PackPlan* p, const std::string& file, SplashPicture* out) {
    std::uint64_t size = 0;
    if (!ReadInput(p, {InputKind::kPicture, file, file, kMaxPictureFileBytes}, &size, &out->original)) return false;
    std::string why;
    if (!DecodePicture(out->original, p->o.background, &out->picture, &out->source, &why)) {
        p->Reject(file, "cannot be packed as a splash picture: " + why);
        return false;
    }
    return true;
}

// Why a second bitmap of the same name is refused; for one picture offered
// at several sizes, how to give each its own name.
std::string GivenTwice(const PackOptions& o, const SplashPicture& first, const std::string& name, const std::string& file) {
    std::string why = "the bitmap name \"" + name + "\" is given twice (names ignore letter case)";
    std::string each;
    for (const SplashOption& so : o.splashes) {
        if (so.file != file || !so.hasSize) continue;
        std::size_t dot = name.rfind('.');
        std::string size = SizeText(so.width, so.height);
        each += " --splash " + size + ":" + file + ":" + name.substr(0, dot) + "-" + size +
                (dot == std::string::npos ? "" : name.substr(dot));
    }
    if (first.file == file && !each.empty()) why += "; to offer one picture at several sizes, give each its own name:" + each;
    return why;
}

// Reads a splash picture to be packed as the bitmap `name`; false, with
// the problem recorded, when it cannot be.
bool AddPicture(PackPlan* p, const std::string& name, const std::string& file, const std::string& option) {
    std::string why;
    if (!CheckSplashName(name, &why)) {
        p->Reject(file, why);
        return false;
    }
    for (const SplashPicture& earlier : p->pictures) {
        if (!ResIdMatches(ResNameUpper(earlier.name), ResNameUpper(name))) continue;
        p->Reject(file, GivenTwice(p->o, earlier, name, file));
        return false;
    }
    SplashPicture picture;
    picture.name = name;
    picture.file = file;
    picture.option = option;
    if (!LoadPicture(p, file, &picture)) return false;
    p->pictures.push_back(std::move(picture));
    return true;
}

// Bitmaps given by name; they may serve a --config file or the default
// configuration.
void PackNamedBitmaps(PackPlan* p) {
    for (const BitmapOption& b : p->o.bitmaps) AddPicture(p, b.name, b.file, "--bitmap " + b.name + "=" + b.file);
}

// The pictures a --config file names and no --bitmap gave, taken from files
// of those names beside it.
void AddPicturesBesideConfig(PackPlan* p) {
    const std::string& file = p->o.configFile;
    for (const ConfigEntry& e : SplitConfig(p->config)) {
        if (e.key != splash::kSplashKey || !e.hasValue) continue;
        std::string name = ParseSplashValue(e.value).name, why;
        if (p->PackedAs(ResNameUpper(name)) != nullptr || !CheckSplashName(name, &why)) continue;
        std::string beside = DirName(file) + name;
        std::uint64_t size = 0;
        if (!FileSize(beside, &size, &why)) continue;
        if (p->output.Admit(beside, beside + ", the picture beside --config " + file, &p->result))
            AddPicture(p, name, beside, "--config " + file + " (" + beside + " beside it)");
    }
}

// --config: the configuration text from a file, kept as given.
void ConfigFromFile(PackPlan* p) {
    const Input& in = p->InputOf(InputKind::kConfig);
    std::vector<std::uint8_t> text;
    std::uint64_t size = 0;
    if (!ReadInput(p, in, &size, &text)) return;
    p->config.assign(text.begin(), text.end());
    // Editors end files with a newline; the launcher would read it as part
    // of the last value.
    while (!p->config.empty() && (p->config.back() == '\n' || p->config.back() == '\r')) p->config.pop_back();
    if (p->config.find('\0') != std::string::npos)
        p->Reject(in.path, "it has a NUL byte, which ends the configuration early");
    else if (p->config.find_first_of("\r\n") != std::string::npos)
        p->Reject(in.path, "it has a line break inside; entries are separated by \"|\" on one line");
    p->writeConfig = true;
    p->configOrigin = in.what;
    AddPicturesBesideConfig(p);
}

// The entries in an order that gives each common screen the largest one
// that fits it; a note says so when that is not the order given.
std::vector<SplashValue> OrderedEntries(PackPlan* p, const std::vector<SplashValue>& given) {
    std::vector<SplashValue> entries;
    for (std::size_t i : SplashEntryOrder(given)) entries.push_back(given[i]);
    bool same = true;
    for (std::size_t i = 0; i < given.size(); ++i) same = same && entries[i].name == given[i].name;
    if (same) return entries;
    std::string list;
    for (std::size_t i = 0; i < entries.size(); ++i)
        list += std::string(i == 0 ? "" : ", ") + SizeText(entries[i].width, entries[i].height) + ";" + entries[i].name;
    p->result.notes.push_back("--splash: the entries are written smallest first (" + list +
                              "), not as given, so that each screen gets the largest one that fits it: the launcher takes "
                              "the first entry on every screen and replaces it only by a later one that fits and is larger");
    return entries;
}

// --splash: one entry for each picture, and --title.
void ConfigFromSplashes(PackPlan* p) {
    std::vector<SplashValue> entries;
    for (const SplashOption& s : p->o.splashes) {
        if (!AddPicture(p, s.name, s.file, SplashOptionText(s))) continue;
        const Picture& picture = p->pictures.back().picture;
        SplashValue e;
        e.width = s.hasSize ? s.width : static_cast<std::uint32_t>(picture.width);
        e.height = s.hasSize ? s.height : static_cast<std::uint32_t>(picture.height);
        e.name = s.name;
        entries.push_back(e);
    }
    p->writeConfig = true;
    p->config = BuildConfig(OrderedEntries(p, entries), p->o.hasTitle ? &p->o.title : nullptr);
    p->configOrigin = "--splash";
}

// --title alone: a new title for the configuration the launcher already carries.
void ConfigWithNewTitle(PackPlan* p) {
    p->writeConfig = true;
    p->configOrigin = "--title";
    std::vector<ConfigEntry> entries;
    if (const Resource* old = FindResource(p->res, TextType(), ConfigName()))
        entries = SplitConfig(std::string(old->data.begin(), old->data.end()));
    else
        p->result.Warn("--title: the launcher has no splash configuration; the new one names no splash bitmap, so none is shown");
    std::string text;
    for (const ConfigEntry& e : entries) {
        if (e.key == splash::kSplashTitleKey || (e.key.empty() && !e.hasValue && entries.size() == 1)) continue;
        if (!text.empty()) text += '|';
        text += e.key + (e.hasValue ? "=" + e.value : "");
    }
    p->config = text + (text.empty() ? "" : "|") + splash::kSplashTitleKey + "=" + p->o.title;
}

// The configuration text, when this run writes one, and the pictures it names.
void ChooseConfig(PackPlan* p) {
    std::string why;
    if (p->o.hasTitle && !CheckTitle(p->o.title, &why)) p->Reject("--title", why);
    PackNamedBitmaps(p);
    if (!p->o.configFile.empty()) ConfigFromFile(p);
    else if (!p->o.splashes.empty()) ConfigFromSplashes(p);
    else if (p->o.hasTitle) ConfigWithNewTitle(p);
}

// Puts the configuration in, and takes what the copy's launcher will read:
// the one written, the launcher's own, or the default one.
void SettleConfig(PackPlan* p) {
    if (p->writeConfig) PutResource(&p->res, TextType(), ConfigName(), ToBytes(p->config));
    if (p->o.hasTitle) {
        std::string warning = TitleWarning(p->o.title);
        if (!warning.empty()) p->result.Warn("--title: " + warning);
    }
    p->finalConfig = LauncherConfigText(p->res, &p->carriesConfig);
    for (const ConfigEntry& e : SplitConfig(p->finalConfig))
        if (e.key == splash::kSplashKey && e.hasValue)
            p->namedBitmaps.push_back(LauncherLookupName(ParseSplashValue(e.value).name));
}

// The smallest width and the smallest height among the entries that name
// a picture: one several entries name must fit all of them. 0 for none.
void FitBox(const std::string& config, const std::string& name, std::uint32_t* boxW, std::uint32_t* boxH) {
    *boxW = *boxH = 0;
    for (const ConfigEntry& e : SplitConfig(config)) {
        if (e.key != splash::kSplashKey || !e.hasValue) continue;
        SplashValue entry = ParseSplashValue(e.value);
        if (!ResIdMatches(ResNameUpper(entry.name), ResNameUpper(name)) || entry.width == 0 || entry.height == 0) continue;
        *boxW = *boxW == 0 ? entry.width : std::min(*boxW, entry.width);
        *boxH = *boxH == 0 ? entry.height : std::min(*boxH, entry.height);
    }
}

// With --fit, scales a picture down to its entries; `how` tells what was
// done, for the note. False, with the problem recorded, when it cannot be.
bool FitPicture(PackPlan* p, SplashPicture* s, std::string* how, bool* scaled, std::uint32_t* coloursBefore) {
    *scaled = false;
    *coloursBefore = 0;
    if (!p->o.fit) return true;
    std::uint32_t boxW = 0, boxH = 0;
    FitBox(p->finalConfig, s->name, &boxW, &boxH);
    std::int32_t w = 0, h = 0;
    FitSize(s->picture.width, s->picture.height, boxW, boxH, &w, &h);
    if (w == s->picture.width && h == s->picture.height) return true;
    Picture smaller;
    if (!ScalePicture(s->picture, w, h, &smaller)) {
        p->Reject(s->file, "cannot be scaled to " + SizeText(w, h));
        return false;
    }
    *how = SizeText(s->picture.width, s->picture.height) + " scaled to fit " + SizeText(boxW, boxH) + ": ";
    *coloursBefore = CountColours(s->picture, kMaxPaletteColours + 1);
    s->picture = std::move(smaller);
    *scaled = true;
    return true;
}

// Each picture, scaled to its entries with --fit, goes in as a bitmap the
// launcher shows.
void EncodePictures(PackPlan* p) {
    for (SplashPicture& s : p->pictures) {
        // Packed all the same: it was asked for, and a later --config may name it.
        if (!p->Named(ResNameUpper(s.name)))
            p->result.Warn(s.option + ": no entry of the configuration names the bitmap \"" + s.name +
                           "\", so the launcher never shows it (a later repack drops it, unless given --keep-unused)");
        std::string how, why, note;
        bool scaled = false;
        std::uint32_t coloursBefore = 0;
        if (!FitPicture(p, &s, &how, &scaled, &coloursBefore)) continue;
        std::vector<std::uint8_t> bitmap;
        if (!WritePicture(s, scaled, coloursBefore, how, p->o.background, &bitmap, &note, &why)) {
            p->Reject(s.file, why);
            continue;
        }
        // Only the bitmap is needed from here on.
        s.picture = Picture();
        s.original = std::vector<std::uint8_t>();
        p->result.notes.push_back(note);
        PutResource(&p->res, SplashType(), ResNameUpper(s.name), std::move(bitmap));
    }
}

// Bitmaps the launcher carried that no entry names any more take room and
// are never shown.
void DropUnusedBitmaps(PackPlan* p) {
    if (p->o.keepUnused) return;
    ResourceList kept;
    for (Resource& r : p->res) {
        if (!ResIdMatches(r.type, SplashType()) || p->Named(r.name) || p->PackedAs(r.name) != nullptr) {
            kept.push_back(std::move(r));
            continue;
        }
        p->result.notes.push_back(ResIdText(r.name, false) + ": no entry of the configuration names this splash bitmap of " +
                                  p->o.launcher + " any more; dropped, " + std::to_string(LeafSize(r)) +
                                  " bytes saved (--keep-unused keeps it)");
    }
    p->res = std::move(kept);
}

// How the entries of the copy's configuration are judged.
struct EntryJudgement {
    std::string where;    // the configuration, as messages name it
    bool strict = false;  // this run wrote the entries: a bitmap missing is an error
    bool care = false;    // the configuration is this run's or the launcher's, or bitmaps were given for it
    bool entriesWritten = false;
};

// One "SplashScreen" entry: its bitmap is packed and shown, at the size it
// is offered for. Sizes are judged where this run chose them, in an entry
// it wrote or a bitmap it packed.
void CheckEntryBitmap(PackPlan* p, const EntryJudgement& j, const SplashValue& s) {
    const Resource* r = FindLauncherResource(p->res, SplashType(), s.name);
    if (r == nullptr) {
        std::string msg = "names the splash bitmap \"" + s.name + "\", which is not packed (give it with --bitmap " + s.name + "=FILE)";
        if (j.strict) p->Reject(j.where, msg);
        else if (j.care) p->result.Warn(j.where + ": " + msg);
        return;
    }
    const SplashPicture* packed = p->PackedAs(r->name);
    const std::string& cause = packed != nullptr ? packed->option : j.where;
    BmpInfo info;
    std::string why;
    if (!CheckBitmap(r->data, &info, &why)) {
        p->result.Warn(cause + ": the packed bitmap \"" + s.name + "\" will not be shown: " + why);
        return;
    }
    if (packed == nullptr && !j.entriesWritten) return;
    const auto w = static_cast<std::uint32_t>(info.width), h = static_cast<std::uint32_t>(info.height);
    // Fitted on purpose: smaller than its entry is what --fit asked for.
    bool fitted = p->o.fit && w <= s.width && h <= s.height;
    if ((s.width != w || s.height != h) && !fitted)
        p->result.Warn(cause + ": the entry for \"" + s.name + "\" says " + SizeText(s.width, s.height) + " but the bitmap is " +
                       SizeText(info.width, info.height) + "; the launcher chooses by the configured size and shows the bitmap at its own");
}

// Screens on which the configuration written shows an entry larger than
// the screen though a packed one fits, told once for each such pair.
void WarnOversizedChoices(PackPlan* p, const std::string& where) {
    std::vector<std::string> values;
    std::vector<bool> packed;
    for (const ConfigEntry& e : SplitConfig(p->finalConfig)) {
        if (e.key != splash::kSplashKey) continue;
        values.push_back(e.value);
        packed.push_back(e.hasValue && FindLauncherResource(p->res, SplashType(), ParseSplashValue(e.value).name) != nullptr);
    }
    std::vector<OversizedChoice> found = OversizedChoices(p->finalConfig, packed);
    for (std::size_t i = 0; i < found.size(); ++i) {
        bool told = false;
        for (std::size_t k = 0; k < i; ++k) told = told || (found[k].shown == found[i].shown && found[k].fits == found[i].fits);
        if (told) continue;
        std::vector<std::string> screens;
        for (const OversizedChoice& c : found)
            if (c.shown == found[i].shown && c.fits == found[i].fits) screens.push_back(SizeText(c.screen.width, c.screen.height));
        p->result.Warn(where + ": on " + Listed(screens) + " screens the launcher shows the entry " + values[found[i].shown] +
                       ", larger than the screen, though the entry " + values[found[i].fits] +
                       " fits and is packed: it takes the first entry on every screen and replaces it only by a later one "
                       "that fits the screen and is larger; give the smaller sizes first");
    }
}

// What the launcher will read: every bitmap the configuration names. A
// configuration this run wrote must be complete; one kept from the
// launcher (or the default one, once bitmaps were given for it) is only
// warned about. A repack that changes only the title or the icon does not
// repeat what the first pack said or chose with --fit.
void CheckConfiguredBitmaps(PackPlan* p) {
    EntryJudgement j;
    j.where = p->writeConfig     ? p->configOrigin
              : p->carriesConfig ? "the launcher's " + ContractName(kel::kConfigResourceName)
                                 : "the default configuration";
    j.entriesWritten = p->writeConfig && p->configOrigin != "--title";
    j.strict = j.entriesWritten;
    j.care = p->writeConfig || p->carriesConfig || !p->pictures.empty();
    bool any = false;
    for (const ConfigEntry& e : SplitConfig(p->finalConfig)) {
        if (e.key != splash::kSplashKey || !e.hasValue) continue;
        any = true;
        CheckEntryBitmap(p, j, ParseSplashValue(e.value));
    }
    if (j.strict && !any && p->result.Ok()) p->result.Warn(j.where + ": the configuration names no splash bitmap, so none is shown");
    if (j.entriesWritten) WarnOversizedChoices(p, j.where);
    if (j.care && (j.entriesWritten || !p->pictures.empty())) {
        splash::SplashConfig* parsed = splash::ParseSplashConfig(p->finalConfig.data(), static_cast<std::uint32_t>(p->finalConfig.size()));
        // Entries from --splash are already in the best order: one left out is
        // the size of an earlier one.
        const std::string why = p->configOrigin == "--splash" ? "an earlier entry has its size, and the launcher replaces "
                                                                "the entry it holds only by a larger one"
                                                              : "the launcher takes the first entry on every screen and "
                                                                "replaces it only by a later one that fits the screen and is "
                                                                "larger; give the smaller sizes first";
        for (const std::string& entry : UnreachableSplashEntries(parsed))
            p->result.Warn(j.where + ": the entry " + entry + " is chosen on no screen: " + why);
        splash::FreeSplashConfig(parsed);
    }
}

// Options that do nothing are most likely a slip; say so.
void WarnIdleOptions(PackPlan* p) {
    const PackOptions& o = p->o;
    const bool anything = !o.appFile.empty() || o.hasCommandLine || !o.splashes.empty() || o.hasTitle ||
                          !o.configFile.empty() || !o.bitmaps.empty() || !o.iconFile.empty() || o.hiResAware;
    std::vector<std::string> packing;
    for (const Option<PackOptions>& option : PackSpec().options)
        if (option.packs) packing.push_back(option.name);
    if (!anything)
        p->result.Warn("nothing to pack: no " + Listed(packing, "or") +
                       " is given, so the output is a copy of the launcher with the resources it has");
    const bool sized = !o.configFile.empty() || !o.bitmaps.empty() ||
                       std::any_of(o.splashes.begin(), o.splashes.end(), [](const SplashOption& s) { return s.hasSize; });
    if (o.fit && !sized)
        p->result.Warn("--fit: no splash entry is given a size (--splash WxH:IMAGE), so each picture is offered at its own "
                       "size and nothing is scaled");
}

// Laid out from the sizes alone, so that a copy the device cannot load is
// refused before the package is read; then checksummed.
bool LayOut(PackPlan* p) {
    const PackOptions& o = p->o;
    std::uint64_t total = p->inputSize;
    for (const Resource& r : p->res) total += LeafSize(r);
    if (total > kMaxPeBytes) {
        p->result.Fail(kExitRejected, o.output + ": the copy would hold " + MibText(total) + ", more than the 4 GiB a PE image can hold");
        return false;
    }
    std::vector<std::string> layoutWarnings;
    std::string why;
    if (!PlanResources(p->image, p->res, &p->planned, &p->placement, &layoutWarnings, &why)) {
        p->result.Fail(kExitBadImage, o.launcher + ": " + why);
        return false;
    }
    for (const std::string& w : layoutWarnings) p->result.Warn("the launcher " + o.launcher + ": " + w);
    if (p->planned.sizeOfImage > kDeviceSlotBytes && !o.allowLarge) {
        p->result.Fail(kExitRejected, o.output + ": " + ImageSizeRefusal(p->planned.sizeOfImage));
        return false;
    }
    std::string sizeWarning = ImageSizeWarning(p->planned.sizeOfImage);
    if (!sizeWarning.empty()) p->result.Warn(o.output + ": " + sizeWarning);
    // The launcher's bytes are all in the plan now; the read-back holds the
    // whole output, and nothing else large is held beside it.
    p->image = PeImage();
    if (!FinishChecksum(&p->planned, &why)) {
        p->result.Fail(kExitRead, why);
        return false;
    }
    return true;
}

// What was written is read back as any reader of the launcher would,
// before it takes the output's name: an image that does not read back as
// written is a launcher no loader accepts.
void WriteCopy(PackPlan* p) {
    auto readsBack = [p](std::vector<std::uint8_t>& back, std::string* reason) {
        return CheckWrittenImage(std::move(back), p->res, reason);
    };
    auto content = [p](const ByteSink& sink, std::string* error) { return EmitImage(p->planned, sink, error); };
    std::string why;
    switch (p->output.Write(content, p->o.launcher, readsBack, &why)) {
        case WriteOutcome::kWritten: break;
        case WriteOutcome::kRefused:
            p->result.Fail(kExitBadImage, p->o.launcher + ": the packed copy does not read back as written: " + why);
            return;
        case WriteOutcome::kFailed: p->result.Fail(kExitWrite, p->o.output + ": " + why); return;
    }
    const char* where = p->placement == RsrcPlacement::kAppended ? "in a new .rsrc section"
                        : p->placement == RsrcPlacement::kNone   ? "(no resources)"
                                                                 : "in the resource section";
    p->result.output = "wrote " + p->o.output + ": " + Counted(p->res.size(), "resource") + " " + where + ", " +
                       std::to_string(p->planned.fileSize) + " bytes\n";
}

// Every step but the last two, each recording its problems; the run stops
// early only where what follows could not be judged.
void BuildPlan(PackPlan* p) {
    if (!GuardInputs(p) || !ReadLauncherInput(p)) return;
    PackPackage(p);
    PackCommandLine(p);
    PackIcon(p);
    PackHiResMark(p);
    ChooseConfig(p);
    if (p->result.exitCode == kExitUsage) return;  // a picture beside --config is the output
    SettleConfig(p);
    EncodePictures(p);
    DropUnusedBitmaps(p);
    CheckConfiguredBitmaps(p);
    WarnIdleOptions(p);
}

}  // namespace

Outcome RunPack(const PackOptions& o) {
    PackPlan plan(o);
    std::string problem = PackOptionsProblem(o);
    if (!problem.empty()) {
        plan.result.Fail(kExitUsage, problem);
        return plan.result;
    }
    BuildPlan(&plan);
    if (plan.result.Ok() && LayOut(&plan)) WriteCopy(&plan);
    plan.result.nothingWritten = plan.result.exitCode != kExitUsage;
    return plan.result;
}

}  // namespace kelpack
