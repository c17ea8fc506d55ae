// A command's arguments, read against the table of the options it takes:
// one reader for every command, so that "unknown option", "needs a value",
// "is given twice" and -h/--help mean the same everywhere. What an option's
// value means, and which options exclude each other, is the command's own
// (pack_options.h for pack).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kelpack {

// One option a command takes.
struct OptionSpec {
    const char* name;       // "--screen"
    const char* shortName;  // "-o", or nullptr
    bool takesValue;        // false: a flag; "--flag=x" is then an unknown option
    bool repeatable;        // false: given twice, it is a usage error ("--screen is given twice")
};

// Called for each option in the order given, with its long name and value
// (empty for a flag); false, with the reason, ends the reading as a usage error.
using OptionHandler = std::function<bool(const std::string& name, const std::string& value, std::string* why)>;

// What the reading found besides the options.
struct Arguments {
    bool help = false;              // -h or --help was given: the command tells its help and does nothing else
    std::vector<std::string> positional;
    bool hasRest = false;           // "--" was given, where the command takes it
    std::vector<std::string> rest;  // everything after "--", options included
};

// Reads `args` (after the command's name) against `options`: a value follows
// its option or is given as --name=value; an argument starting with "-"
// that is no option is an unknown option; with `takesRest`, "--" ends the
// options. Stops at the first -h or --help, and at the first problem, false
// with the reason.
bool ReadArguments(const std::vector<std::string>& args, const std::vector<OptionSpec>& options, bool takesRest,
                   const OptionHandler& handler, Arguments* out, std::string* why);

// Parses WIDTHxHEIGHT (or WIDTHXHEIGHT) with each 1 to 65535; false otherwise.
bool ParseSize(const std::string& text, std::uint32_t* width, std::uint32_t* height);

}  // namespace kelpack
