// The embedded command line and its merge with the user's command line.
//
// A packaged launcher carries the command line that starts its application
// as its "CommandLine" resource of type "Text". The user's command line is
// wrapped around it: an optional prefix section between "-+" and "--" goes in
// front, everything else behind. The two pure steps are exported on their own
// so that tools can show what a launcher would do without loading it.
#pragma once

#include <cstdint>

namespace cmdline {

// Widens size resource bytes and ends the text at the first NUL, LF or CR byte; a new malloc'ed
// string. Null for a size beyond text::kMaxTakenBytes, which only a damaged resource has.
char16_t* EmbeddedCommandLine(const char* bytes, uint32_t size);

// Wraps the user's command line around the embedded one: a copy of the embedded text when the
// user's is empty, else the composition. A new malloc'ed string; neither input is changed.
char16_t* ComposeCommandLine(const char16_t* embedded, const char16_t* userCommandLine);

// The merge: the command line the rest of the start-up uses, from the "CommandLine" resource's
// bytes (null: the launcher carries none) and the user's command line. A copy of the user's
// line when the resource is missing or unusable, else the composition; always a new malloc'ed
// string, which the caller owns.
char16_t* MergeCommandLine(const char* resource, uint32_t size, const char16_t* userCommandLine);

}  // namespace cmdline
