// Each command told once, in a spec: its name, usage lines and summary, and
// each option with its help, whether it takes a value or repeats, and what
// it sets. The tool's help and the command's are printed from it, its
// arguments are read against it, and a test holds the manual page's and
// the README's option lists to it. One reader for every command, so that
// "unknown option", "needs a value", "is given twice" and -h/--help mean
// the same everywhere. What an option's value means is its setter's; the
// rules between a command's options are its check's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace kelpack {

// One option as the reader reads it.
struct OptionSpec {
    const char* name;       // "--screen"
    const char* shortName;  // "-o", or nullptr
    const char* value;      // what the help calls its value ("WxH"); nullptr for a flag ("--flag=x" is then an unknown option)
    bool repeatable;        // false: given twice, it is a usage error ("--screen is given twice")
};

// One option of a command whose options are an `Options`: as read, as
// told, and what it sets.
template <class Options>
struct Option : OptionSpec {
    // Its lines in the help, after the head. Empty: the option is told
    // nowhere, taken only to be refused with the reason.
    std::string help;
    // Takes the value (empty for a flag) into the options; false with the
    // reason, a usage error.
    bool (*set)(Options* options, const std::string& value, std::string* why);
    // pack: it gives something to put into the copy; given none of these,
    // pack warns that there is nothing to pack, naming them.
    bool packs = false;
};

// The options a member pointer belongs to.
template <class Member>
struct MemberOf;
template <class Options, class Type>
struct MemberOf<Type Options::*> {
    using Class = Options;
};

// The setter of an option that only stores: a flag's `true`, or the value
// as given. Sets<&PackOptions::output>.
template <auto Member>
bool Sets(typename MemberOf<decltype(Member)>::Class* options, const std::string& value, std::string*) {
    if constexpr (std::is_same_v<decltype(options->*Member), bool&>) options->*Member = true;
    else options->*Member = value;
    return true;
}

// The same for a value kept beside whether it was given at all:
// SetsGiven<&PackOptions::hasTitle, &PackOptions::title>.
template <auto Given, auto Member>
bool SetsGiven(typename MemberOf<decltype(Member)>::Class* options, const std::string& value, std::string* why) {
    options->*Given = true;
    return Sets<Member>(options, value, why);
}

// A command. It works on one file, and takes the options listed.
template <class Options>
struct CommandSpec {
    using Target = Options;

    const char* name = "";           // "pack"
    std::vector<std::string> usage;  // its usage lines: "kelpack pack LAUNCHER -o OUTPUT [options]"
    std::string synopsis;            // how the tool's help lists it, when not as its first usage line
    std::string summary;             // what it does, beside that
    std::string about;               // its help after the usage lines, before the options
    std::size_t column = 0;          // where the options' help starts in its help
    std::vector<Option<Options>> options;
    std::string epilogue;            // its help after the options

    std::string Options::*file = nullptr;  // where the file goes
    std::string noFile;                    // the reason when none is given
    std::string moreFiles;                 // and when more than one is
    // What "--" is followed by, "ARGS..." (everything after it, options
    // included), and what takes it; empty where "--" is no option.
    std::string rest;
    bool (*takeRest)(Options* options, const std::vector<std::string>& rest, std::string* why) = nullptr;
    // The rules between its options, and defaults one option sets for
    // another; false with the reason, a usage error.
    bool (*check)(Options* options, std::string* why) = nullptr;
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

// Reads a command's arguments (after its name) into `options`: each option
// through its setter, the file, what follows "--", then the check. False
// with the reason for a usage error. `help` is set, and nothing else read,
// when -h or --help comes first.
template <class Options>
bool ReadCommand(const CommandSpec<Options>& spec, const std::vector<std::string>& args, Options* options, bool* help,
                 std::string* why) {
    *options = Options();
    auto take = [&](const std::string& name, const std::string& value, std::string* reason) {
        for (const Option<Options>& o : spec.options)
            if (name == o.name) return o.set(options, value, reason);
        return false;
    };
    Arguments a;
    const std::vector<OptionSpec> read(spec.options.begin(), spec.options.end());
    if (!ReadArguments(args, read, !spec.rest.empty(), take, &a, why)) return false;
    *help = a.help;
    if (a.help) return true;
    if (a.positional.size() != 1) {
        *why = a.positional.empty() ? spec.noFile : spec.moreFiles;
        return false;
    }
    options->*spec.file = a.positional[0];
    if (a.hasRest && !spec.takeRest(options, a.rest, why)) return false;
    return spec.check == nullptr || spec.check(options, why);
}

// An option as help and documentation head it: "-o, --output FILE".
std::string OptionHead(const OptionSpec& option);

// Lines of a head and its text, the text from `column` on (under the head
// when the head leaves no room), each further line of it indented as far:
// a command's options, or the commands in the tool's help.
std::string HeadedLines(const std::vector<std::pair<std::string, std::string>>& rows, std::size_t column);

// A command's help: the usage lines, `about`, the options (each told one,
// then -h, --help) and the epilogue.
template <class Options>
std::string HelpText(const CommandSpec<Options>& spec) {
    std::string text;
    for (std::size_t i = 0; i < spec.usage.size(); ++i) text += (i == 0 ? "Usage: " : "       ") + spec.usage[i] + "\n";
    std::vector<std::pair<std::string, std::string>> rows;
    for (const Option<Options>& o : spec.options)
        if (!o.help.empty()) rows.emplace_back(OptionHead(o), o.help);
    rows.emplace_back("-h, --help", "this text");
    text += "\n" + spec.about + "\nOptions:\n" + HeadedLines(rows, spec.column);
    return spec.epilogue.empty() ? text : text + "\n" + spec.epilogue;
}

// The options a command's documentation lists, headed as its help heads
// them, and "-- ARGS..." where it takes that.
template <class Options>
std::vector<std::string> ListedOptions(const CommandSpec<Options>& spec) {
    std::vector<std::string> listed;
    for (const Option<Options>& o : spec.options)
        if (!o.help.empty()) listed.push_back(OptionHead(o));
    if (!spec.rest.empty()) listed.push_back("-- " + spec.rest);
    return listed;
}

// Parses WIDTHxHEIGHT (or WIDTHXHEIGHT) with each 1 to 65535; false otherwise.
bool ParseSize(const std::string& text, std::uint32_t* width, std::uint32_t* height);

}  // namespace kelpack
