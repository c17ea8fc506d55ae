// `kelpack explain`: what a launcher copy would do with a user's command
// line, step by step in the launcher's start-up order. Every decision is the
// launcher's own code (cmdline::, splash::, shell::) run over the resources
// read from the file; nothing runs that leaves the tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "launcher_view.h"
#include "shell/registration.h"

namespace kelpack {

// What to explain.
struct ExplainOptions {
    std::string file;                 // the launcher copy
    std::u16string user_line;         // the command line the shell would pass
    std::int32_t screen_width = 240;  // the device's screen
    std::int32_t screen_height = 320;
    bool has_installed_as = false;    // false: \Windows\ and the file's name
    std::u16string installed_as;      // where the launcher runs from on the device
};

// The launcher's start-up for that command line, in its order.
struct Explanation {
    std::string file;
    std::string format;                   // "PE32" or "PE32+"
    std::string machine;
    std::u16string user_line;
    bool has_embedded = false;            // a CommandLine resource is packed
    std::u16string embedded;              // its text, cut at NUL, LF or CR
    std::u16string merged;                // what every later step and the engine see
    shell::Registration registration = shell::Registration::kNone;
    std::u16string installed_as;
    std::u16string registered_engine_path;  // what a registration sets HKCR\KelFile10\DLL to

    // The argument scan; not run when the launcher only registers.
    bool scanned = false;
    std::vector<std::u16string> arguments;  // the split, before the scan rewrites any
    bool relay = false;                     // the relay option answers instead of a handoff
    std::int32_t relay_at = -1;             // its position among the arguments
    bool relay_has_command = false;         // an argument follows it
    std::u16string relay_command;
    std::string relay_bytes;                // what the relay sends, newline included
    std::u16string target;                  // the target name, the window class looked for

    // The splash step and the engine; also only when the launcher goes on.
    bool config_packed = false;
    SplashOutcome splash;
};

// Reads the file and works the start-up out; false with the reason and exit code.
bool explain(const ExplainOptions& options, Explanation* explanation, std::string* error, int* exit_code);

// The explanation for people, one numbered step per start-up step.
std::string explain_text(const Explanation& explanation);

// The explanation as one JSON object.
std::string explain_json(const Explanation& explanation);

// Wide text for people: printable ASCII as it is, other characters as \uXXXX.
std::string wide_printable(const std::u16string& s);

}  // namespace kelpack
