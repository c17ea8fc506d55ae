#include "cmdline/merge.h"

namespace cmdline {

const char16_t* MergeCommandLine(platform::HMODULE, const char16_t* userCommandLine) { return userCommandLine; }

}  // namespace cmdline
