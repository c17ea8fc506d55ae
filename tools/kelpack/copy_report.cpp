#include "copy_report.h"

#include <cstdio>
#include <cstdlib>
#include <set>

#include "bitmap_check.h"
#include "byteio.h"
#include "contract/kel.h"
#include "copy_contents.h"
#include "image_limits.h"
#include "outcome.h"
#include "wording.h"
#include "splash/config.h"
#include "text/text.h"
#include "text/utf8_strings.h"

namespace kelpack {

namespace {

std::string Pad(const std::string& s, std::size_t n) { return s.size() >= n ? s + " " : s + std::string(n - s.size(), ' '); }

std::string Hex32(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", v);
    return buf;
}

}  // namespace

namespace {

// A configuration entry as show lists it, with its bitmap when it is a
// "SplashScreen" entry.
ShownEntry ShowEntry(const ResourceList& res, const char* key, const char* value) {
    ShownEntry s;
    s.key = key;
    s.hasValue = value != nullptr;
    if (s.hasValue) s.value = value;
    if (s.key != splash::kSplashKey || !s.hasValue) return s;
    s.isSplash = true;
    splash::SplashEntry v = splash::ParseSplashEntry(value);
    s.width = static_cast<std::uint32_t>(v.width);
    s.height = static_cast<std::uint32_t>(v.height);
    s.bitmap = v.name;
    if (const Resource* bmp = FindLauncherResource(res, SplashType(), s.bitmap)) {
        s.bitmapPresent = true;
        BmpInfo info;
        s.bitmapValid = LauncherDecodes(bmp->data, &info, &s.bitmapProblem);
        s.bitmapWidth = info.width;
        s.bitmapHeight = info.height;
        s.bitmapBits = info.bitCount;
        s.bitmapRows = info.rowsPresent;
    }
    return s;
}

// The splash configuration, its title and entries, and the choice on each common screen.
void ShowSplash(ShowReport* r) {
    const ResourceList& res = r->resources;
    splash::SplashConfig* config = LauncherSplashConfig(res, &r->hasConfig);
    // The text the launcher parses ends at its first NUL.
    for (std::int32_t i = 0; i < config->count; ++i) r->configText += std::string(i ? "|" : "") + config->keys[i] +
                                                                        (config->values[i] ? std::string("=") + config->values[i] : "");
    const char* title = splash::FindSplashValue(config, splash::kSplashTitleKey, splash::kDefaultSplashTitle);
    // A title entry without "=" titles the window with nothing.
    r->title = title != nullptr ? title : "";
    for (std::int32_t i = 0; i < config->count; ++i) r->entries.push_back(ShowEntry(res, config->keys[i], config->values[i]));
    for (const ScreenSize& screen : kCommonScreens)
        r->screens.push_back(SplashForScreen(res, config, screen.width, screen.height));
    splash::FreeSplashConfig(config);
}

// Icon group 50 and the mark for high-resolution screens.
void ShowIconAndMark(ShowReport* r) {
    const ResourceList& res = r->resources;
    r->hiRes = ReadHiResMark(res);
    if (r->hiRes.present && !r->hiRes.marked)
        r->warnings.push_back(r->file + ": its " + ContractName(kel::kHiResAwareResourceType) + " " +
                              ContractName(kel::kHiResAwareResourceName) + " resource holds " + r->hiRes.held +
                              ", not the one 16-bit value " + std::to_string(kel::kHiResAwareValue) +
                              " that marks a program ready for high-resolution screens; kelpack takes the copy as not marked");
    const Resource* g = FindResource(res, IntResId(kRtGroupIcon), IntResId(kel::kIconGroupId));
    if (g == nullptr) return;
    r->hasIconGroup = true;
    std::uint16_t n = 0;
    ReadU16(g->data, 4, &n);
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint16_t id = 0;
        if (!ReadU16(g->data, 6 + 14ull * i + 12, &id)) break;
        ++r->iconImages;
        if (!FindResource(res, IntResId(kRtIcon), IntResId(id))) ++r->iconImagesMissing;
    }
}

}  // namespace

bool MakeShowReport(const std::string& path, ShowReport* r, Outcome* outcome) {
    *r = ShowReport();
    r->file = path;
    PeImage image;
    ResourceList res;
    if (!ReadLauncherFile(path, &image, &res, outcome)) return false;
    FillShowReport(path, image, std::move(res), r);
    return true;
}

void FillShowReport(const std::string& path, const PeImage& image, ResourceList resources, ShowReport* r) {
    *r = ShowReport();
    r->file = path;
    r->resources = std::move(resources);
    SortResources(&r->resources);
    r->format = image.pe32plus ? "PE32+" : "PE32";
    r->machine = MachineName(image.machine);
    r->machineType = image.machine;
    r->sizeOfImage = image.sizeOfImage;
    std::string sizeWarning = ImageSizeWarning(image.sizeOfImage);
    if (!sizeWarning.empty()) r->warnings.push_back(path + ": " + sizeWarning);
    for (const std::string& w : LauncherWarnings(image)) r->warnings.push_back(path + ": " + w);
    r->sections = image.sections;
    r->signedImage = image.dirs.size() > kDirSecurity && image.dirs[kDirSecurity].size != 0;
    const ResourceList& res = r->resources;
    if (const Resource* app = FindResource(res, AppType(), AppName())) {
        r->hasApp = true;
        r->appSize = LeafSize(*app);
    }
    if (const Resource* cl = FindResource(res, TextType(), CommandLineName())) {
        r->hasCommandLine = true;
        std::string text(cl->data.begin(), cl->data.end());
        std::size_t cut = text.find_first_of(std::string("\0\n\r", 3));
        r->commandLineCut = cut != std::string::npos && cut + 1 < text.size();
        r->commandLine = text.substr(0, cut);
    }
    ShowSplash(r);
    ShowIconAndMark(r);
}

std::string HiResText(const HiResMark& mark) {
    if (mark.marked)
        return "marked ready (" + ContractName(kel::kHiResAwareResourceType) + " " + ContractName(kel::kHiResAwareResourceName) +
               "): a 480x640 Pocket PC tells the launcher and its engine the real screen size";
    return "not marked: a Pocket PC with a 480x640 screen (CE 4.21 on) tells the launcher and its engine that the screen "
           "is 240x320 and doubles every pixel (kelpack pack --hi-res-aware marks it)";
}

std::string SplashOutcomeText(const SplashOutcome& o) {
    if (!o.offered) return "no splash: the configuration has no SplashScreen entry";
    if (!o.asksScreen) return "no splash: no bitmap the configuration offers is packed, so the screen size is not asked";
    std::string t = "\"" + Printable(o.name) + "\" (entry " + std::to_string(o.entryWidth) + "x" + std::to_string(o.entryHeight) + ")";
    if (!o.present) return t + ": not packed, so no splash is shown";
    if (!o.decodes) return t + ": does not decode (" + o.problem + "), so no splash is shown";
    t += ": decodes, " + std::to_string(o.bitmap.width) + "x" + std::to_string(o.bitmap.height) + " " +
         std::to_string(o.bitmap.bitCount) + "-bit";
    if (o.bitmap.rowsPresent < static_cast<std::uint32_t>(o.bitmap.height))
        t += ", only " + std::to_string(o.bitmap.rowsPresent) + " of its rows present";
    if (o.bitmap.width > o.screenWidth || o.bitmap.height > o.screenHeight) t += ", larger than the screen";
    return t;
}

std::string SplashOutcomeJson(const SplashOutcome& o) {
    auto num = [](std::int64_t v) { return std::to_string(v); };
    auto boolean = [](bool b) { return std::string(b ? "true" : "false"); };
    std::string j = "{\"screen_width\": " + num(o.screenWidth) + ", \"screen_height\": " + num(o.screenHeight) +
                    ", \"bitmap\": " + (o.chosen ? JsonString(o.name) : std::string("null"));
    if (o.chosen) {
        j += ", \"entry_width\": " + num(o.entryWidth) + ", \"entry_height\": " + num(o.entryHeight) +
             ", \"title\": " + JsonText(WindowText(o.title), true) + ", \"present\": " + boolean(o.present) +
             ", \"decodes\": " + boolean(o.decodes) + ", \"title_bytes\": " + JsonString(o.title);
        if (o.decodes)
            j += ", \"bitmap_width\": " + num(o.bitmap.width) + ", \"bitmap_height\": " + num(o.bitmap.height) +
                 ", \"bitmap_bits\": " + num(o.bitmap.bitCount) + ", \"rows_present\": " + num(o.bitmap.rowsPresent);
        else if (o.present)
            j += ", \"problem\": " + JsonString(o.problem);
    }
    return j + ", \"asks_screen\": " + boolean(o.asksScreen) + "}";
}

std::string ShowText(const ShowReport& r) {
    std::string t = r.file + ": " + r.format + " " + r.machine +
                    (IsLauncherMachine(r.machineType) ? "" : " (no launcher is built for it)") + ", " +
                    Counted(r.sections.size(), "section") + ", image " + MibText(r.sizeOfImage) +
                    (r.signedImage ? ", signed" : "") + "\n";
    t += "\nResources (" + std::to_string(r.resources.size()) + "):\n";
    t += "  " + Pad("TYPE", 22) + Pad("NAME", 26) + Pad("LANG", 7) + "SIZE\n";
    for (const Resource& x : r.resources)
        t += "  " + Pad(ResIdText(x.type, true), 22) + Pad(ResIdText(x.name, false), 26) + Pad(std::to_string(x.lang), 7) +
             std::to_string(LeafSize(x)) + "\n";

    t += "\nApplication package: ";
    t += r.hasApp ? std::to_string(r.appSize) + " bytes\n"
                  : "none (no " + ContractName(kel::kApplicationResourceType) + "/" +
                        ContractName(kel::kApplicationResourceName) + ")\n";
    t += "Command line: ";
    if (!r.hasCommandLine) t += "none; the launcher passes the user's command line on as it is\n";
    else t += "\"" + Printable(r.commandLine) + "\"" + (r.commandLineCut ? " (the resource goes on after a NUL, LF or CR; the launcher ignores the rest)" : "") + "\n";
    t += "Icon group " + std::to_string(kel::kIconGroupId) + ": ";
    if (!r.hasIconGroup) t += "none\n";
    else t += Counted(static_cast<std::uint64_t>(r.iconImages), "image") + (r.iconImagesMissing ? ", " + std::to_string(r.iconImagesMissing) + " of them missing" : "") + "\n";
    t += "High resolution: " + HiResText(r.hiRes) + "\n";

    t += "\nSplash configuration (" + (r.hasConfig ? ContractName(kel::kConfigResourceName) + " resource" : "none packed; the launcher's default") + "):\n";
    for (const ShownEntry& e : r.entries) {
        t += "  " + Printable(e.key) + (e.hasValue ? "=" + Printable(e.value) : "");
        if (e.isSplash) {
            if (!e.bitmapPresent) t += "  -> bitmap missing";
            else if (!e.bitmapValid) t += "  -> bitmap not accepted: " + e.bitmapProblem;
            else {
                t += "  -> " + std::to_string(e.bitmapWidth) + "x" + std::to_string(e.bitmapHeight) + ", " +
                     std::to_string(e.bitmapBits) + "-bit";
                if (static_cast<std::int64_t>(e.width) != e.bitmapWidth || static_cast<std::int64_t>(e.height) != e.bitmapHeight)
                    t += " (differs from the configured size)";
                if (e.bitmapRows < static_cast<std::uint32_t>(e.bitmapHeight))
                    t += ", only " + Counted(e.bitmapRows, "row") + " present (the rest show blank)";
            }
        }
        t += "\n";
    }
    t += "Title: " + ShownTitle(r.title) + "\n";
    t += "\nSplash by screen:\n";
    for (const SplashOutcome& o : r.screens) t += "  " + Pad(std::to_string(o.screenWidth) + "x" + std::to_string(o.screenHeight), 9) + SplashOutcomeText(o) + "\n";
    t += "\nSections:\n";
    for (const PeSection& s : r.sections)
        t += "  " + Pad(Printable(s.name), 10) + "RVA " + Hex32(s.virtualAddress) + "  size " + Hex32(s.virtualSize) +
             "  file " + Hex32(s.rawOffset) + " +" + Hex32(s.rawSize) + "\n";
    return t;
}

std::string ShowJson(const ShowReport& r) {
    auto num = [](std::int64_t v) { return std::to_string(v); };
    auto boolean = [](bool b) { return std::string(b ? "true" : "false"); };
    auto idJson = [](const ResId& id) {
        return id.isName ? JsonText(text::WideToUtf8(id.name), true) : std::to_string(id.id);
    };
    std::string j = "{\n";
    j += "  \"file\": " + JsonString(r.file) + ",\n";
    j += "  \"format\": " + JsonString(r.format) + ",\n";
    j += "  \"machine\": " + JsonString(r.machine) + ",\n";
    j += "  \"launcher_machine\": " + boolean(IsLauncherMachine(r.machineType)) + ",\n";
    j += "  \"size_of_image\": " + num(r.sizeOfImage) + ",\n";
    j += "  \"warnings\": [";
    for (std::size_t i = 0; i < r.warnings.size(); ++i) j += std::string(i ? ", " : "") + JsonText(r.warnings[i], true);
    j += "],\n";
    j += "  \"signed\": " + boolean(r.signedImage) + ",\n";
    j += "  \"sections\": [";
    for (std::size_t i = 0; i < r.sections.size(); ++i) {
        const PeSection& s = r.sections[i];
        j += std::string(i ? ", " : "") + "{\"name\": " + JsonString(s.name) + ", \"rva\": " + num(s.virtualAddress) +
             ", \"virtual_size\": " + num(s.virtualSize) + ", \"file_offset\": " + num(s.rawOffset) +
             ", \"file_size\": " + num(s.rawSize) + "}";
    }
    j += "],\n  \"resources\": [";
    for (std::size_t i = 0; i < r.resources.size(); ++i) {
        const Resource& x = r.resources[i];
        j += std::string(i ? "," : "") + "\n    {\"type\": " + idJson(x.type) + ", \"name\": " + idJson(x.name) +
             ", \"lang\": " + num(x.lang) + ", \"size\": " + num(static_cast<std::int64_t>(LeafSize(x))) + "}";
    }
    j += "\n  ],\n";
    j += "  \"application_size\": " + (r.hasApp ? num(static_cast<std::int64_t>(r.appSize)) : std::string("null")) + ",\n";
    j += "  \"command_line\": " + (r.hasCommandLine ? JsonString(r.commandLine) : std::string("null")) + ",\n";
    j += "  \"command_line_cut\": " + boolean(r.commandLineCut) + ",\n";
    j += "  \"icon_group_50\": " + (r.hasIconGroup ? "{\"images\": " + num(r.iconImages) + ", \"missing\": " + num(r.iconImagesMissing) + "}" : std::string("null")) + ",\n";
    j += "  \"hi_res_aware\": " + boolean(r.hiRes.marked) + ",\n";
    j += "  \"config_packed\": " + boolean(r.hasConfig) + ",\n";
    j += "  \"config_text\": " + JsonString(r.configText) + ",\n";
    j += "  \"config_entries\": [";
    for (std::size_t i = 0; i < r.entries.size(); ++i) {
        const ShownEntry& e = r.entries[i];
        j += std::string(i ? "," : "") + "\n    {\"key\": " + JsonString(e.key) + ", \"value\": " +
             (e.hasValue ? JsonString(e.value) : std::string("null"));
        if (e.isSplash) {
            j += ", \"width\": " + num(e.width) + ", \"height\": " + num(e.height) + ", \"bitmap\": " + JsonString(e.bitmap) +
                 ", \"bitmap_present\": " + boolean(e.bitmapPresent) + ", \"bitmap_valid\": " + boolean(e.bitmapValid);
            if (e.bitmapValid)
                j += ", \"bitmap_width\": " + num(e.bitmapWidth) + ", \"bitmap_height\": " + num(e.bitmapHeight) +
                     ", \"bitmap_bits\": " + num(e.bitmapBits) + ", \"bitmap_rows\": " + num(e.bitmapRows);
            else if (e.bitmapPresent)
                j += ", \"bitmap_problem\": " + JsonString(e.bitmapProblem);
        }
        j += "}";
    }
    j += "\n  ],\n";
    j += "  \"title\": " + JsonText(WindowText(r.title), true) + ",\n";
    j += "  \"title_bytes\": " + JsonString(r.title) + ",\n";
    j += "  \"screens\": [";
    for (std::size_t i = 0; i < r.screens.size(); ++i) j += std::string(i ? "," : "") + "\n    " + SplashOutcomeJson(r.screens[i]);
    j += "\n  ]\n";
    j += "}\n";
    return j;
}

}  // namespace kelpack
