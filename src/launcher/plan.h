// The start-up as a launcher copy's own rules decide it, before anything
// leaves the program: what the merged command line is, whether it asks for
// the file type's registration, and what the argument scan found. The launch
// sequence carries the plan out through the platform; kelpack explains it
// from a copy's resources without running anything.
#pragma once

#include <cstdint>

#include "cmdline/scan.h"
#include "filetype/registration.h"

namespace launcher {

// What a start does with a launcher's resources and a user's command line.
struct StartPlan {
    char16_t* commandLine;             // the merged command line every later step and the engine see
    filetype::Registration registration;  // what it asks of the file type's registration
    bool scanned;                      // false when the start only registers
    cmdline::ScanResult scan;          // the target name to hand over to, or the relay option's place and message
};

// The plan for the "CommandLine" resource's bytes (null: the launcher carries
// none) and the user's command line. Release it with FreeStartPlan, except
// for the command line when the engine was handed it (TakeCommandLine).
StartPlan PlanStart(const char* commandLineResource, uint32_t resourceSize, const char16_t* userCommandLine);
// Releases what the plan still owns.
void FreeStartPlan(StartPlan* plan);
// Takes the command line out of the plan: the engine may keep it for the rest of the process.
char16_t* TakeCommandLine(StartPlan* plan);

// What a person is shown when no engine library loads, and when it lacks the
// entry routine; each in a message box with the caption after it.
const char16_t kNoEngineText[] = u"Could not find DLL: Kel.DLL";
const char16_t kNoEngineCaption[] = u"Error Loading DLL";
const char16_t kNoEntryText[] = u"Could not find DLL entry routine \"KelMainW\"";
const char16_t kNoEntryCaption[] = u"Error Starting DLL";

// The longest registered engine path value taken, in bytes: the platform's
// longest path (32767 characters), its terminator and surrounding quotes. A
// longer value is no path the platform could load, and a size near 2^32 would
// wrap the byte count on a 32-bit build.
const uint32_t kMaxEnginePathBytes = (32767 + 3) * sizeof(char16_t);

// The buffer, in bytes, that reading a registered engine path value of
// valueSize bytes takes: every byte and a terminator after the last whole
// character. 0 when the value is longer than kMaxEnginePathBytes.
inline uint32_t EnginePathBufferBytes(uint32_t valueSize) {
    return valueSize > kMaxEnginePathBytes ? 0 : (valueSize / sizeof(char16_t) + 1) * sizeof(char16_t);
}

// The library path a registered value names, from the bytesRead bytes read
// into a buffer of EnginePathBufferBytes: the text is ended after its last
// whole character (an odd last byte is dropped, and whatever the value's
// type or ending, it ends inside the buffer), then a value that starts with
// a double quote loses its first and its last character, whatever that is (a
// lone quote leaves an empty path). Works in place and returns where the path starts.
char16_t* EnginePathInValue(char16_t* buffer, uint32_t bytesRead);

}  // namespace launcher
