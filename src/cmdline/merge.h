// The embedded command line and its merge with the user's command line.
//
// A packaged launcher carries the command line that starts its application
// as its "CommandLine" resource of type "Text". The user's command line is
// wrapped around it: an optional prefix section between "-+" and "--" goes in
// front, everything else behind. The two pure steps are exported on their own
// so that tools can show what a launcher would do without loading it.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace cmdline {

// Widens size resource bytes and ends the text at the first NUL, LF or CR byte; a new malloc'ed
// string. Null for a size beyond text::kMaxTakenBytes, which only a damaged resource has.
char16_t* EmbeddedCommandLine(const char* bytes, uint32_t size);

// Wraps the user's command line around the embedded one: the embedded text itself when the
// user's is empty, else a new malloc'ed string. Neither input is changed.
const char16_t* ComposeCommandLine(const char16_t* embedded, const char16_t* userCommandLine);

// The command line the rest of the start-up uses: the user's unchanged when the module has no
// usable "CommandLine" resource, otherwise the composition of the two.
const char16_t* MergeCommandLine(platform::HMODULE module, const char16_t* userCommandLine);

}  // namespace cmdline
