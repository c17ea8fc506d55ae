// kelpack: packs an application into a launcher copy, and shows what a copy carries.
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string out, err;
    int code = kelpack::run_cli(args, &out, &err);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fwrite(err.data(), 1, err.size(), stderr);
    return code;
}
