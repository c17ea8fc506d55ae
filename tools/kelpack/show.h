// `kelpack show`: what a launcher copy carries, for people and for scripts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "launcher_view.h"
#include "pe.h"

namespace kelpack {

// One configuration entry and, for a "SplashScreen" entry, its bitmap.
struct ShownEntry {
    std::string key;
    bool has_value = false;
    std::string value;
    bool is_splash = false;         // key is exactly "SplashScreen" and has a value
    std::uint32_t width = 0;        // as configured
    std::uint32_t height = 0;
    std::string bitmap;             // resource name
    bool bitmap_present = false;
    bool bitmap_valid = false;      // the launcher's decoder accepts it
    std::string bitmap_problem;     // why not, when present but invalid
    std::int32_t bitmap_width = 0;  // the bitmap's own size, when valid
    std::int32_t bitmap_height = 0;
    std::uint16_t bitmap_bits = 0;
    std::uint32_t bitmap_rows = 0;  // whole rows present; fewer than the height leaves rows blank
};

// Everything `show` reports about one executable.
struct ShowReport {
    std::string file;
    std::string format;             // "PE32" or "PE32+"
    std::string machine;
    std::vector<PeSection> sections;
    ResourceList resources;
    bool signed_image = false;
    bool has_app = false;
    std::size_t app_size = 0;
    bool has_command_line = false;
    std::string command_line;       // the resource's bytes up to the launcher's cut
    bool command_line_cut = false;  // the bytes went on past a NUL, LF or CR
    bool has_config = false;        // false: the launcher uses its default text
    std::string config_text;        // the text the launcher parses
    std::vector<ShownEntry> entries;
    std::string title;              // what the splash window is titled
    std::vector<SplashOutcome> screens;  // the launcher's splash on each of kCommonScreens
    bool has_icon_group = false;
    int icon_images = 0;            // entries of icon group 50
    int icon_images_missing = 0;    // of those, RT_ICON resources not present
};

// Reads `path` into `report`; false with the reason (and `exit_code`).
bool make_show_report(const std::string& path, ShowReport* report, std::string* error, int* exit_code);

// One screen's splash outcome as a line for people, and as a JSON object.
std::string splash_outcome_text(const SplashOutcome& outcome);
std::string splash_outcome_json(const SplashOutcome& outcome);

// The report as text for people.
std::string show_text(const ShowReport& report);

// The report as one JSON object.
std::string show_json(const ShowReport& report);

// Bytes shown as text: printable ASCII as it is, the rest as \xNN.
std::string printable(const std::string& s);

// Bytes of no particular character set as a JSON string literal; each byte
// of 0x80 and above becomes the code point of the same value.
std::string json_string(const std::string& s);

// `s` as a JSON string literal; with `utf8` the text is UTF-8 and passes through.
std::string json_text(const std::string& s, bool utf8);

}  // namespace kelpack
