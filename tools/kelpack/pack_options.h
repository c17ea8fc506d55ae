// What `kelpack pack` is asked to do, and its spec (options.h): its help,
// and how its arguments are read, with the rules that tie its options
// together, all in one place. RunPack takes options that hold them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "picture.h"
#include "options.h"

namespace kelpack {

// One `--splash [WxH:]FILE[:NAME]`.
struct SplashOption {
    bool hasSize = false;  // false: the bitmap's own size is written
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::string file;
    std::string name;  // empty: the file's base name
};

// One `--bitmap NAME=FILE`.
struct BitmapOption {
    std::string name;
    std::string file;
};

// Everything `pack` was asked to do.
struct PackOptions {
    std::string launcher;  // the launcher, or a copy of it, that pack reads
    std::string output;
    std::string appFile;        // empty: keep what the launcher has
    bool hasCommandLine = false;
    std::string commandLine;
    std::vector<SplashOption> splashes;
    bool hasTitle = false;
    std::string title;
    bool hasConfig = false;     // --config was given (an empty FILE reads none)
    std::string configFile;     // empty: build CONFIG from splashes and title
    std::vector<BitmapOption> bitmaps;
    std::string iconFile;
    Rgb background = kDefaultBackground;  // what transparent pixels are laid over
    bool fit = false;           // scale splash pictures down to their entries' sizes
    bool allowLarge = false;    // write copies above the device's 32 MiB slot (for desktop Windows)
    bool keepUnused = false;    // keep splash bitmaps no configuration entry names
    bool hiResAware = false;    // mark the copy ready for high-resolution screens
};

// pack's spec: its help, and how its arguments are read into its options.
const CommandSpec<PackOptions>& PackSpec();

// The rules between options (an output is given, --config excludes --splash
// and --title); empty when the options hold them.
std::string PackOptionsProblem(const PackOptions& options);

// Parses `[WxH:]FILE[:NAME]`; false with the reason. A leading WxH: is a size
// only when it is digits, "x" or "X", digits; then it must be 1 to 65535 a
// side. What follows is the file alone when `isFile` says it names one (so
// that a path with ":" in it works); otherwise a last ":" starts NAME.
bool ParseSplashOption(const std::string& text, SplashOption* out, std::string* error,
                       const std::function<bool(const std::string&)>& isFile = nullptr);

// The option, as given, that packs a --splash picture: "--splash 240x320:a.png".
std::string SplashOptionText(const SplashOption& splash);

}  // namespace kelpack
