// `kelpack pack`: a launcher copy that carries an application.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "image.h"
#include "pe_write.h"

namespace kelpack {

// Exit codes of the tool (also documented in README.md).
enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,      // bad options or arguments
    kExitRead = 2,       // a file could not be read
    kExitBadImage = 3,   // the launcher is not a usable PE image, has no room, or its packed copy does not read back
    kExitRejected = 4,   // something to pack was rejected (bitmap, icon, command line, configuration)
    kExitWrite = 5,      // the output could not be written (also: out of memory)
};

// The largest picture file kelpack reads: the most pixels it decodes
// (kMaxImagePixels) at 8 bytes each, 16-bit RGBA stored plainly, and room
// for the headers. Larger files are refused before they are read.
constexpr std::uint64_t kMaxPictureFileBytes = kMaxImagePixels * 8 + (std::uint64_t{1} << 20);

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
    std::string input;
    std::string output;
    std::string appFile;        // empty: keep what the launcher has
    bool hasCommandLine = false;
    std::string commandLine;
    std::vector<SplashOption> splashes;
    bool hasTitle = false;
    std::string title;
    std::string configFile;     // empty: build CONFIG from splashes and title
    std::vector<BitmapOption> bitmaps;
    std::string iconFile;
    Rgb background = kDefaultBackground;  // what transparent pixels are laid over
    bool fit = false;           // scale splash pictures down to their entries' sizes
    bool allowLarge = false;    // write copies above the device's 32 MiB slot (for desktop Windows)
    bool keepUnused = false;    // keep splash bitmaps no configuration entry names
};

// The outcome: the exit code, and what to tell the user.
struct PackResult {
    int exitCode = kExitOk;
    std::vector<std::string> errors;    // each names the file and the reason
    std::vector<std::string> warnings;
    std::vector<std::string> notes;     // what was made of each splash picture
    std::string summary;                // one line on success
};

// Reads, checks, and writes the output; nothing is written unless every
// check passed.
PackResult RunPack(const PackOptions& options);

// Parses `[WxH:]FILE[:NAME]`; false with the reason. A leading WxH: is a size
// only when it is digits, "x" or "X", digits; then it must be 1 to 65535 a
// side. What follows is the file alone when `isFile` says it names one (so
// that a path with ":" in it works); otherwise a last ":" starts NAME.
bool ParseSplashOption(const std::string& text, SplashOption* out, std::string* error,
                       const std::function<bool(const std::string&)>& isFile = nullptr);

// Parses WIDTHxHEIGHT (or WIDTHXHEIGHT) with each 1 to 65535; false otherwise.
bool ParseSize(const std::string& text, std::uint32_t* width, std::uint32_t* height);

// The last path component (after '/' or '\\').
std::string BaseName(const std::string& path);

}  // namespace kelpack
