// `kelpack preview`: pictures of what a device's screen shows while the
// engine loads, one PNG per screen size. The splash is the launcher's own
// choice (splash::ChooseSplashForScreen over the configuration it reads),
// decoded with its own checks and copies (splash/bitmap.h, through
// ReadLauncherBitmap) and placed by its own rule (splash::PlaceSplashWindow);
// only the drawing on a picture instead of a screen is kelpack's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture.h"
#include "launcher_view.h"
#include "options.h"
#include "outcome.h"
#include "resources.h"
#include "splash/config.h"
#include "splash/placement.h"

namespace kelpack {

// The screen around the splash window in a preview (0x00RRGGBB): a mid grey,
// which is neither the window's white background nor black, and is no real
// device's desktop, so that the window's edge always shows.
constexpr std::uint32_t kPreviewBackground = 0x00808080;
// The largest screen side a preview is drawn for; handhelds' screens are far
// smaller, and a picture this size already takes 48 MiB.
constexpr std::int32_t kMaxPreviewSide = 4096;

// One screen's preview.
struct ScreenPreview {
    SplashOutcome outcome;                // the launcher's choice, and whether its bitmap decodes
    bool shown = false;                   // a splash window is on the screen
    splash::SplashPlacement window = {};  // where, when shown
    Picture image;
};

// What a screen of screenWidth x screenHeight shows: kPreviewBackground and,
// when `bitmap` is set and the launcher decodes it, the splash window centred
// on it, cut where it overhangs. Sets `window` to where the window lies, and
// returns whether one is shown.
bool DrawSplashScreen(std::int32_t screenWidth, std::int32_t screenHeight, const std::vector<std::uint8_t>* bitmap,
                      Picture* image, splash::SplashPlacement* window);

// The preview of one screen for a launcher copy's resources and configuration.
ScreenPreview PreviewScreen(const ResourceList& res, const splash::SplashConfig* config, std::int32_t screenWidth,
                            std::int32_t screenHeight);

// The picture as a PNG file's bytes; false when the encoder fails.
bool EncodePng(const Picture& image, std::vector<std::uint8_t>* png);

// The name of a screen's preview file: "preview-240x320.png".
std::string PreviewFileName(std::int32_t screenWidth, std::int32_t screenHeight);

// The name of the second preview of a screen larger than 240x320 (320x240),
// for a copy not marked ready for high resolution: what a high-resolution
// Pocket PC shows instead, "preview-480x640-doubled.png".
std::string DoubledPreviewFileName(std::int32_t screenWidth, std::int32_t screenHeight);

// The picture with every pixel doubled, as a high-resolution device shows a
// program that is not marked ready for it.
Picture DoublePixels(const Picture& picture);

// What `kelpack preview` is asked for.
struct PreviewOptions {
    std::string copy;                 // the launcher copy
    std::vector<ScreenSize> screens;  // empty: kCommonScreens, as `show` lists them
    std::string dir;                  // empty: the current directory
};

// preview's spec: its help, and how its arguments are read into its options.
const CommandSpec<PreviewOptions>& PreviewSpec();

// Draws every screen, then writes the files, all of them or none: a failed
// write leaves every older file of those names as it was. The outcome's
// output names each file written and what it shows.
Outcome RunPreview(const PreviewOptions& options);

}  // namespace kelpack
