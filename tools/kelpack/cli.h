// The command line of the tool: options in, exit code and text out. Kept
// apart from main() so that tests drive it like a user would.
#pragma once

#include <string>
#include <vector>

namespace kelpack {

// Runs `kelpack ARGS...` (args without the program name). What the user
// would see on standard output and standard error goes to `out` and `err`.
int RunCli(const std::vector<std::string>& args, std::string* out, std::string* err);

}  // namespace kelpack
