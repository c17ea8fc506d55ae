// The argument scan: the split of the command line into arguments, the
// target name that identifies a running instance of the application, and
// where the relay option stands. It touches no platform operation, so that
// tools can explain what a launcher would do; cmdline/handoff.h carries its
// outcome out.
#pragma once

#include <cstdint>

namespace cmdline {

// The target name when the command line names none.
const char* const kDefaultTargetName = "StartKel";
// Option letters that, in the last position, do not end the walk at once.
const char* const kLastArgumentLetters = "azrpnmsoOQRh-+";
// Option letters that take no parameter.
const char* const kLettersWithoutParameter = "QRkmnprsz";
// The relay option's text after its '-' or '/'.
const char* const kRelayOption = "acommand";

// Splits text in place into arguments and returns how many there are. The
// text is cut at its first CR or LF even when list is null (it must be
// writable); with a list, each argument's start is stored and each is ended
// with a NUL. Spaces (0x20 only) separate; a double quote at an argument's
// start runs it to the next double quote.
int32_t SplitArguments(char16_t* text, char16_t** list);

// True when text is longer than ".kel" and ends in it, each letter in either case.
bool IsKelFile(const char16_t* text);

// What the scan found.
// (Unscoped: the device compiler cannot compare scoped enumerations; the
// enumerators are still written qualified, Name::kValue.)
enum ScanKind {
    kTarget,   // target is the name to hand over to
    kRelay,    // the relay option stands at relayAt; the command, if any, is the argument after it
};

// The outcome of ScanCommandLine. All pointers are the scan's own heap blocks; FreeScan releases them.
struct ScanResult {
    ScanKind kind;
    char16_t* target;         // kTarget: the target name, '.' and '/' already replaced by '_'
    char16_t** arguments;     // the argument list, pointing into a private copy of the command line
    int32_t count;            // number of arguments (at least 1)
    int32_t relayAt;          // kRelay: position of the relay option in the list; -1 otherwise
    char* relayMessage;       // kRelay: the bytes the relay sends (RelayMessage of the argument after
                              // the option); null when no argument follows it, and for kTarget
    int32_t relayMessageLength;
    char16_t* copy;           // the private copy the arguments point into
    char16_t* defaultTarget;  // the widened default target name, when the target is it; else null
};

// Splits a private copy of the command line and walks its arguments: the
// target name, or where the relay option stands. The command line is not changed.
ScanResult ScanCommandLine(const char16_t* commandLine);

// Releases what a scan allocated; the result's pointers are null afterwards.
void FreeScan(ScanResult* scan);

}  // namespace cmdline
