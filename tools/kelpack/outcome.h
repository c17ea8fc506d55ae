// What a command comes to, and how it is told: every command (pack, show,
// explain, preview, and any added beside them) ends in one Outcome, and one
// printer turns it into what the user sees. Depends on nothing of kelpack,
// so that every command includes it and none sits under another.
#pragma once

#include <string>
#include <vector>

namespace kelpack {

// Exit codes of the tool (also documented in README.md and the manual).
enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,      // bad options or arguments (also: the output is one of the inputs, or a folder)
    kExitRead = 2,       // a file could not be read
    kExitBadImage = 3,   // the launcher is not a usable PE image, has no room, or its packed copy does not read back
    kExitRejected = 4,   // something to pack was rejected (bitmap, icon, command line, configuration)
    kExitWrite = 5,      // the output could not be written (also: out of memory)
};

// A command's outcome: its exit code and what to tell the user. Problems are
// collected, so that one run reports all of them; the worst exit code is
// kept (a usage error over an unreadable file, over a file that is no usable
// image, over an output not written, over something rejected).
struct Outcome {
    int exitCode = kExitOk;
    std::vector<std::string> errors;    // each names the file (or option) and the reason
    std::vector<std::string> warnings;  // each told once
    std::vector<std::string> notes;     // what was made of the inputs; told on success only
    std::string output;                 // standard output, on success only
    bool nothingWritten = false;        // a failed run tells the user that it left no file

    bool Ok() const { return exitCode == kExitOk; }
    // Records an error and keeps the worse of `code` and the exit code so far.
    void Fail(int code, const std::string& error);
    // The same, when the same text is not already recorded: a file given
    // twice (one picture at two sizes) fails the same way twice, and the
    // user hears it once.
    void FailOnce(int code, const std::string& error);
    // Records a warning, once.
    void Warn(const std::string& warning);
    // Keeps the worse of `code` and the exit code so far.
    void Raise(int code);
};

// Writes the outcome as the tool tells it: warnings, then errors, on
// standard error; on success the notes (standard error) and the output
// (standard output); on a failure with `nothingWritten`, that nothing was
// written. Each line of standard error starts with "kelpack: ".
void PrintOutcome(const Outcome& outcome, std::string* out, std::string* err);

}  // namespace kelpack
