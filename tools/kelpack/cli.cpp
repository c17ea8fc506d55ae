#include "cli.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <type_traits>

#include "cab.h"
#include "explain.h"
#include "fileio.h"
#include "options.h"
#include "outcome.h"
#include "pack.h"
#include "preview.h"
#include "show.h"
#include "version.h"

namespace kelpack {

namespace {

int UsageError(std::string* err, const std::string& command, const std::string& why) {
    *err += "kelpack " + command + ": " + why + "\nRun 'kelpack " + command + " --help' for the options.\n";
    return kExitUsage;
}

// Reads a command's arguments against its spec, and runs it: its help, a
// usage error, or its Outcome, told once.
template <auto Spec, auto Run>
int RunSpecified(const std::vector<std::string>& args, std::string* out, std::string* err) {
    const auto& spec = Spec();
    typename std::decay_t<decltype(spec)>::Target options;
    bool help = false;
    std::string why;
    if (!ReadCommand(spec, args, &options, &help, &why)) return UsageError(err, spec.name, why);
    if (help) {
        *out += HelpText(spec);
        return kExitOk;
    }
    const Outcome outcome = Run(options);
    PrintOutcome(outcome, out, err);
    return outcome.exitCode;
}

// One row per command, made from its spec (options.h) and the function
// that runs it.
struct Command {
    std::string name;
    std::string synopsis;  // as the tool's help lists it
    std::string summary;
    std::string help;
    std::vector<std::string> documented;  // the options its documentation lists
    int (*run)(const std::vector<std::string>& args, std::string* out, std::string* err);
};

template <auto Spec, auto Run>
Command Row() {
    const auto& spec = Spec();
    const std::string synopsis = spec.synopsis.empty() ? spec.usage.front() : spec.synopsis;
    return {spec.name, synopsis, spec.summary, HelpText(spec), ListedOptions(spec), RunSpecified<Spec, Run>};
}

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {Row<PackSpec, RunPack>(), Row<ShowSpec, RunShow>(),
                                                  Row<ExplainSpec, RunExplain>(), Row<PreviewSpec, RunPreview>(),
                                                  Row<CabSpec, RunCab>()};
    return commands;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& c : Commands())
        if (name == c.name) return &c;
    return nullptr;
}

std::string ToolHelp() {
    std::vector<std::pair<std::string, std::string>> rows;
    for (const Command& c : Commands()) rows.emplace_back(c.synopsis, c.summary);
    rows.emplace_back("kelpack help [COMMAND]", "this text, or a command's");
    rows.emplace_back("kelpack --version", "this kelpack's version");
    return "kelpack: packages an application into a copy of the Kel launcher, shows\n"
           "what a launcher copy carries, explains what it does with a command line,\n"
           "and draws the splash it shows.\n"
           "\n"
           "Usage:\n" +
           HeadedLines(rows, 46) +
           "\n"
           "Run 'kelpack COMMAND --help' for a command's options.\n"
           "\n"
           "Exit codes: 0 done; 1 bad options; 2 a file could not be read; 3 the launcher\n"
           "is not a usable PE image; 4 something to pack was rejected; 5 the output could\n"
           "not be written.\n";
}

int RunCommand(const std::vector<std::string>& args, std::string* out, std::string* err) {
    if (args.empty()) {
        *err += ToolHelp();
        return kExitUsage;
    }
    const std::string& cmd = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (cmd == "-h" || cmd == "--help" || (cmd == "help" && rest.empty())) {
        *out += ToolHelp();
        return kExitOk;
    }
    if (cmd == "help") {
        const Command* c = FindCommand(rest[0]);
        if (c == nullptr) return UsageError(err, "help", "no command " + rest[0]);
        *out += c->help;
        return kExitOk;
    }
    if (cmd == "--version") {
        *out += std::string("kelpack ") + kVersion + "\n";
        return kExitOk;
    }
    if (const Command* c = FindCommand(cmd)) return c->run(rest, out, err);
    *err += "kelpack: unknown command " + cmd + "\n\n" + ToolHelp();
    return kExitUsage;
}

// Out of memory: the files the run was writing are removed, and the run ends
// with the exit code of an output not written, never with an abort. Called
// by operator new, so it allocates nothing.
[[noreturn]] void OutOfMemory() {
    RemoveInterruptedFiles();
    std::fputs("kelpack: error: out of memory; nothing was written\n", stderr);
    std::fflush(stderr);
    std::_Exit(kExitWrite);
}

}  // namespace

std::vector<std::pair<std::string, std::vector<std::string>>> DocumentedOptions() {
    std::vector<std::pair<std::string, std::vector<std::string>>> documented;
    for (const Command& c : Commands()) documented.emplace_back(c.name, c.documented);
    return documented;
}

int RunCli(const std::vector<std::string>& args, std::string* out, std::string* err) {
    std::set_new_handler(OutOfMemory);
#if defined(__cpp_exceptions)
    // What fails without operator new: a buffer larger than the system's
    // address space, say on a 32-bit build.
    try {
        return RunCommand(args, out, err);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    *err += "kelpack: error: out of memory; nothing was written\n";
    return kExitWrite;
#else
    return RunCommand(args, out, err);
#endif
}

}  // namespace kelpack
