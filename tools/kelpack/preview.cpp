#include "preview.h"

#include <algorithm>
#include <iterator>

#include <stb_image_write.h>

#include "contract/kel.h"
#include "copy_contents.h"
#include "copy_report.h"
#include "fileio.h"
#include "outcome.h"
#include "output.h"
#include "wording.h"

namespace kelpack {

namespace {

void PutPixel(Picture* image, std::int32_t x, std::int32_t y, Rgb colour) {
    std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(image->width) + static_cast<std::size_t>(x)) * 3;
    image->rgb[at] = colour.r;
    image->rgb[at + 1] = colour.g;
    image->rgb[at + 2] = colour.b;
}

void AppendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    char last = dir.back();
    return last == '/' || last == '\\' ? dir + name : dir + "/" + name;
}

}  // namespace

bool DrawSplashScreen(std::int32_t screenWidth, std::int32_t screenHeight, const std::vector<std::uint8_t>* bitmap,
                      Picture* image, splash::SplashPlacement* window) {
    image->width = screenWidth;
    image->height = screenHeight;
    image->rgb.assign(static_cast<std::size_t>(screenWidth) * static_cast<std::size_t>(screenHeight) * 3, 0);
    const Rgb background{static_cast<std::uint8_t>(kPreviewBackground >> 16),
                         static_cast<std::uint8_t>(kPreviewBackground >> 8), static_cast<std::uint8_t>(kPreviewBackground)};
    for (std::int32_t y = 0; y < screenHeight; ++y)
        for (std::int32_t x = 0; x < screenWidth; ++x) PutPixel(image, x, y, background);
    *window = splash::SplashPlacement{};
    if (bitmap == nullptr) return false;

    LauncherBitmap shown;
    std::string why;
    if (!ReadLauncherBitmap(*bitmap, &shown, &why)) return false;

    // The window is the bitmap's own size and the bitmap is copied onto all
    // of it, so its white background never shows; the screen cuts off what
    // overhangs.
    *window = splash::PlaceSplashWindow(screenWidth, screenHeight, shown.layout.width, shown.layout.height);
    std::int32_t top = window->y > 0 ? window->y : 0;
    std::int32_t bottom = window->y + window->height < screenHeight ? window->y + window->height : screenHeight;
    std::int32_t left = window->x > 0 ? window->x : 0;
    std::int32_t right = window->x + window->width < screenWidth ? window->x + window->width : screenWidth;
    for (std::int32_t y = top; y < bottom; ++y)
        for (std::int32_t x = left; x < right; ++x) PutPixel(image, x, y, shown.Pixel(x - window->x, y - window->y));
    return true;
}

ScreenPreview PreviewScreen(const ResourceList& res, const splash::SplashConfig* config, std::int32_t screenWidth,
                            std::int32_t screenHeight) {
    ScreenPreview p;
    p.outcome = SplashForScreen(res, config, screenWidth, screenHeight);
    const Resource* bitmap = p.outcome.decodes ? FindLauncherResource(res, SplashType(), p.outcome.name) : nullptr;
    p.shown = DrawSplashScreen(screenWidth, screenHeight, bitmap != nullptr ? &bitmap->data : nullptr, &p.image, &p.window);
    return p;
}

bool EncodePng(const Picture& image, std::vector<std::uint8_t>* png) {
    png->clear();
    return stbi_write_png_to_func(AppendBytes, png, image.width, image.height, 3, image.rgb.data(), image.width * 3) != 0 &&
           !png->empty();
}

std::string PreviewFileName(std::int32_t screenWidth, std::int32_t screenHeight) {
    return "preview-" + SizeText(screenWidth, screenHeight) + ".png";
}

std::string DoubledPreviewFileName(std::int32_t screenWidth, std::int32_t screenHeight) {
    return "preview-" + SizeText(screenWidth, screenHeight) + "-doubled.png";
}

Picture DoublePixels(const Picture& in) {
    Picture out;
    out.width = in.width * 2;
    out.height = in.height * 2;
    out.rgb.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height) * 3);
    for (std::int32_t y = 0; y < out.height; ++y)
        for (std::int32_t x = 0; x < out.width; ++x) {
            std::size_t from = (static_cast<std::size_t>(y / 2) * static_cast<std::size_t>(in.width) + static_cast<std::size_t>(x / 2)) * 3;
            std::size_t to = (static_cast<std::size_t>(y) * static_cast<std::size_t>(out.width) + static_cast<std::size_t>(x)) * 3;
            std::copy(in.rgb.begin() + static_cast<std::ptrdiff_t>(from), in.rgb.begin() + static_cast<std::ptrdiff_t>(from) + 3,
                      out.rgb.begin() + static_cast<std::ptrdiff_t>(to));
        }
    return out;
}

namespace {

// One preview file, drawn and encoded before the first file is written.
struct PlannedPreview {
    std::string path;
    std::vector<std::uint8_t> png;
    std::string says;  // what it shows
};

// What a screen's preview shows, for the summary line.
std::string PreviewSays(const ScreenPreview& p, std::int32_t width, std::int32_t height) {
    std::string says = SizeText(width, height) + " screen: " + SplashOutcomeText(p.outcome);
    if (!p.shown) return says + "; the bare screen";
    says += "; the window at " + std::to_string(p.window.x) + "," + std::to_string(p.window.y);
    if (p.window.x < 0 || p.window.y < 0 || p.window.x + p.window.width > width || p.window.y + p.window.height > height)
        says += ", cut off at the screen's edges";
    return says;
}

// Encodes a picture as a planned file; false, with the problem recorded,
// when the encoder fails.
bool PlanFile(const std::string& path, const Picture& image, const std::string& says, std::vector<PlannedPreview>* planned,
              Outcome* r) {
    PlannedPreview file;
    file.path = path;
    file.says = says;
    if (!EncodePng(image, &file.png)) {
        r->Fail(kExitWrite, path + ": the PNG encoder failed for a " + SizeText(image.width, image.height) + " picture");
        return false;
    }
    planned->push_back(std::move(file));
    return true;
}

// Draws and encodes every screen's picture, and for a screen larger than a
// high-resolution device doubles, when the copy is not marked ready for
// high resolution, what such a device shows; false, with the problem
// recorded, when the encoder fails.
bool PlanPreviews(const PreviewOptions& o, const ResourceList& res, const splash::SplashConfig* config,
                  std::vector<PlannedPreview>* planned, Outcome* r) {
    std::vector<ScreenSize> screens = o.screens;
    if (screens.empty()) screens.assign(std::begin(kCommonScreens), std::end(kCommonScreens));
    const bool marked = ReadHiResMark(res).marked;
    for (const ScreenSize& screen : screens) {
        ScreenPreview p = PreviewScreen(res, config, screen.width, screen.height);
        if (!PlanFile(JoinPath(o.dir, PreviewFileName(screen.width, screen.height)), p.image,
                      PreviewSays(p, screen.width, screen.height), planned, r))
            return false;
        ScreenSize told{};
        if (marked || !DoubledScreen(screen.width, screen.height, &told)) continue;
        ScreenPreview d = PreviewScreen(res, config, told.width, told.height);
        std::string says = SizeText(screen.width, screen.height) + " screen of a high-resolution Pocket PC (CE 4.21 on), the "
                           "copy not marked ready for high resolution: " + PreviewSays(d, told.width, told.height) +
                           "; every pixel doubled, " + SizeText(told.width * 2, told.height * 2);
        if (!PlanFile(JoinPath(o.dir, DoubledPreviewFileName(screen.width, screen.height)), DoublePixels(d.image), says,
                      planned, r))
            return false;
    }
    return true;
}

// Writes every planned file, or none, each through an Output: all of them
// under temporary names first, read back, then moved into place, so that a
// failure at any point leaves every older file of those names as it was.
// The folders the run made go again on failure.
bool WritePreviews(const PreviewOptions& o, const std::vector<PlannedPreview>& planned, Outcome* r) {
    std::vector<Output> outputs;
    for (const PlannedPreview& file : planned) {
        outputs.emplace_back(file.path, file.path);
        outputs.back().Admit(o.copy, o.copy, r);
    }
    if (!r->Ok()) return false;
    // The folder is made (with its parents) only once every picture is drawn.
    std::vector<std::string> madeFolders;
    std::string why;
    if (!o.dir.empty() && !MakeFolders(o.dir, &madeFolders, &why)) {
        r->Fail(kExitWrite, why);
        return false;
    }
    std::vector<FileWrite> files;
    for (std::size_t i = 0; i < planned.size(); ++i) {
        const PlannedPreview& file = planned[i];
        files.push_back(outputs[i].Planned(ContentOf(file.png), "", [&file](std::vector<std::uint8_t>& back, std::string* reason) {
            if (back == file.png) return true;
            *reason = file.path + ": the picture does not read back as written";
            return false;
        }));
    }
    if (WriteFilesChecked(files, &why) == WriteOutcome::kWritten) return true;
    r->Fail(kExitWrite, why);
    RemoveMadeFolders(madeFolders);
    return false;
}

}  // namespace

namespace {

bool AddScreen(PreviewOptions* o, const std::string& value, std::string* why) {
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

bool SetDir(PreviewOptions* o, const std::string& value, std::string* why) {
    o->dir = value;
    if (value.empty()) *why = "--output-dir needs a folder";
    return !value.empty();
}

}  // namespace

const CommandSpec<PreviewOptions>& PreviewSpec() {
    static const CommandSpec<PreviewOptions> spec = [] {
        CommandSpec<PreviewOptions> c;
        c.name = "preview";
        c.usage = {"kelpack preview COPY [--screen WxH]... [-o DIR]"};
        c.summary = "draw its splash on each screen, one PNG each";
        c.about = "Draws what a device's screen shows while the launcher copy COPY starts its\n"
                  "engine: the splash bitmap the launcher chooses for that screen, in its\n"
                  "borderless window centred on the screen and cut off where it is larger.\n"
                  "Around the window the screen is grey (" + std::to_string(kPreviewBackground >> 16) + ", " +
                  std::to_string((kPreviewBackground >> 8) & 0xFF) + ", " + std::to_string(kPreviewBackground & 0xFF) +
                  "); with no splash,\n"
                  "the picture is the bare screen. One PNG file per screen,\n"
                  "DIR/preview-WxH.png; a run writes all of them or none.\n";
        c.column = 17;
        c.options = {
            {{"--screen", nullptr, "WxH", true},
             "a screen to draw, each side 1 to " + std::to_string(kMaxPreviewSide) + "; repeatable (default:\n" +
                 CommonScreensText() + ")",
             AddScreen},
            {{"--output-dir", "-o", "DIR", false}, "the folder to write to (default: the current one)", SetDir},
        };
        c.epilogue = "Example:\n"
                     "  kelpack preview Game.exe --screen 240x320 --screen 480x640 -o previews\n";
        c.file = &PreviewOptions::copy;
        c.noFile = "no executable given";
        c.moreFiles = "give one executable";
        return c;
    }();
    return spec;
}

Outcome RunPreview(const PreviewOptions& o) {
    Outcome r;
    PeImage image;
    ResourceList res;
    if (!ReadLauncherFile(o.copy, &image, &res, &r)) return r;
    std::vector<PlannedPreview> planned;
    bool packed = false;
    splash::SplashConfig* config = LauncherSplashConfig(res, &packed);
    bool drawn = PlanPreviews(o, res, config, &planned, &r);
    splash::FreeSplashConfig(config);
    if (!drawn || !WritePreviews(o, planned, &r)) {
        r.nothingWritten = r.exitCode == kExitWrite;
        return r;
    }
    r.output = "Splash previews of " + o.copy + " (" +
               (packed ? "its " + ContractName(kel::kConfigResourceName) + " configuration"
                       : "no configuration packed; the launcher's default") +
               "), the screen around the window grey:\n";
    for (const PlannedPreview& file : planned) r.output += "  " + file.path + "  " + file.says + "\n";
    r.output += "Wrote " + std::to_string(planned.size()) + (planned.size() == 1 ? " file.\n" : " files.\n");
    return r;
}

}  // namespace kelpack
