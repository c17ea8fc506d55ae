// The command line of the tool: options in, exit code and text out. Kept
// apart from main() so that tests drive it like a user would.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kelpack {

// Runs `kelpack ARGS...` (args without the program name). What the user
// would see on standard output and standard error goes to `out` and `err`.
int RunCli(const std::vector<std::string>& args, std::string* out, std::string* err);

// Each command's name and the options its documentation (the manual page,
// the README) must list, headed as its help heads them: "-o, --output
// FILE", and "-- ARGS..." where it takes that.
std::vector<std::pair<std::string, std::vector<std::string>>> DocumentedOptions();

}  // namespace kelpack
