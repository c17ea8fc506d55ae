// What `kelpack show` says of a launcher copy, for people and for scripts,
// and of the splash a screen gets: shared by show, show of a cabinet (a
// copy inside it), explain and preview, none of which sits under another.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "copy_contents.h"
#include "launcher_view.h"
#include "outcome.h"
#include "pe.h"
#include "shown_text.h"

namespace kelpack {

// One configuration entry and, for a "SplashScreen" entry, its bitmap.
struct ShownEntry {
    std::string key;
    bool hasValue = false;
    std::string value;
    bool isSplash = false;          // key is exactly "SplashScreen" and has a value
    std::uint32_t width = 0;        // as configured
    std::uint32_t height = 0;
    std::string bitmap;             // resource name
    bool bitmapPresent = false;
    bool bitmapValid = false;       // the launcher's decoder accepts it
    std::string bitmapProblem;      // why not, when present but invalid
    std::int32_t bitmapWidth = 0;   // the bitmap's own size, when valid
    std::int32_t bitmapHeight = 0;
    std::uint16_t bitmapBits = 0;
    std::uint32_t bitmapRows = 0;  // whole rows present; fewer than the height leaves rows blank
};

// Everything `show` reports about one executable.
struct ShowReport {
    std::string file;
    std::string format;             // "PE32" or "PE32+"
    std::string machine;
    std::uint16_t machineType = 0;
    std::uint32_t sizeOfImage = 0;  // the address space the loader reserves
    std::vector<std::string> warnings;  // what a device or the launcher will not take: its size, not being a launcher
    std::vector<PeSection> sections;
    ResourceList resources;
    bool signedImage = false;
    bool hasApp = false;
    std::size_t appSize = 0;
    bool hasCommandLine = false;
    std::string commandLine;        // the resource's bytes up to the launcher's cut
    bool commandLineCut = false;    // the bytes went on past a NUL, LF or CR
    bool hasConfig = false;         // false: the launcher uses its default text
    std::string configText;         // the text the launcher parses
    std::vector<ShownEntry> entries;
    std::string title;              // what the splash window is titled
    std::vector<SplashOutcome> screens;  // the launcher's splash on each of kCommonScreens
    bool hasIconGroup = false;
    int iconImages = 0;             // entries of icon group 50
    int iconImagesMissing = 0;      // of those, RT_ICON resources not present
    HiResMark hiRes;                // the mark of a copy ready for high-resolution screens
};

// What a copy's mark for high-resolution screens means on a device, one line for people.
std::string HiResText(const HiResMark& mark);

// Reads `path` into `report`; false with the reason failed into `outcome`.
bool MakeShowReport(const std::string& path, ShowReport* report, Outcome* outcome);

// The report of an image already read, named `path` in the report and its
// warnings (a launcher copy inside a cabinet, say).
void FillShowReport(const std::string& path, const PeImage& image, ResourceList resources, ShowReport* report);

// One screen's splash outcome as a line for people, and as a JSON object.
std::string SplashOutcomeText(const SplashOutcome& outcome);
std::string SplashOutcomeJson(const SplashOutcome& outcome);

// The report as text for people.
std::string ShowText(const ShowReport& report);

// The report as one JSON object.
std::string ShowJson(const ShowReport& report);

}  // namespace kelpack
