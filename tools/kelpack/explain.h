// `kelpack explain`: what a launcher copy would do with a user's command
// line, step by step in the launcher's start-up order. Every decision is the
// launcher's own code (its start plan, and the cmdline::, splash:: and
// filetype:: rules the shells apply) run over the resources read from the
// file; nothing runs that leaves the tool.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "copy_contents.h"
#include "launcher_view.h"
#include "options.h"
#include "outcome.h"
#include "filetype/registration.h"

namespace kelpack {

// What to explain.
struct ExplainOptions {
    std::string copy;                 // the launcher copy
    bool hasUserLine = false;         // given with --command-line
    std::u16string userLine;          // the command line the shell would pass
    std::int32_t screenWidth = 240;   // the device's screen
    std::int32_t screenHeight = 320;
    bool hasInstalledAs = false;      // false: \Windows\ and the file's name
    std::u16string installedAs;       // where the launcher runs from on the device
    bool json = false;                // one JSON object instead of text
};

// The launcher's start-up for that command line, in its order.
struct Explanation {
    std::string file;
    std::string format;                   // "PE32" or "PE32+"
    std::string machine;
    std::u16string userLine;
    bool hasEmbedded = false;             // a CommandLine resource is packed
    std::u16string embedded;              // its text, cut at NUL, LF or CR
    std::u16string merged;                // what every later step and the engine see
    filetype::Registration registration = filetype::Registration::kNone;
    std::u16string installedAs;
    // What a registration writes under HKEY_CLASSES_ROOT for a launcher
    // there, in its order: each key and its default value.
    std::vector<std::pair<std::u16string, std::u16string>> registrationRows;
    std::u16string registeredEnginePath;  // the row that sets HKCR\KelFile10\DLL
    bool registeredEngineTaken = false;   // the launcher takes that value as a path (not too long)
    std::u16string registeredEngineLoads; // the path it then loads

    // The argument scan; not run when the launcher only registers.
    bool scanned = false;
    std::vector<std::u16string> arguments;  // the split, before the scan rewrites any
    bool relay = false;                     // the relay option answers instead of a handoff
    std::int32_t relayAt = -1;              // its position among the arguments
    bool relayHasCommand = false;           // an argument follows it
    std::u16string relayCommand;
    std::string relayBytes;                 // what the relay sends, newline included (the plan's)
    std::u16string target;                  // the target name, the window class looked for

    // The splash step and the engine; also only when the launcher goes on.
    bool configPacked = false;
    SplashOutcome splash;
    HiResMark hiRes;                    // the copy's mark for high-resolution screens
    bool largeScreen = false;           // the screen is larger than the 240x320 (320x240) a high-resolution device doubles
    SplashOutcome secondEdition;        // on such a device, for a copy not marked: the splash it is told of, doubled
};

// Reads the file and works the start-up out; false with the reason failed into `outcome`.
bool Explain(const ExplainOptions& options, Explanation* explanation, Outcome* outcome);

// The explanation for people, one numbered step per start-up step.
std::string ExplainText(const Explanation& explanation);

// The explanation as one JSON object.
std::string ExplainJson(const Explanation& explanation);

// Wide text for people: printable ASCII as it is, other characters as \uXXXX.
std::string WidePrintable(const std::u16string& s);

// explain's spec: its help, and how its arguments are read into its options.
const CommandSpec<ExplainOptions>& ExplainSpec();

// Works the start-up out; the outcome's output is the explanation, as text or JSON.
Outcome RunExplain(const ExplainOptions& options);

}  // namespace kelpack
