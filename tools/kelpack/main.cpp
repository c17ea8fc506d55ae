// kelpack: packs an application into a launcher copy, and shows what a copy carries.
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>

// The C runtime's narrow arguments are in the ANSI code page, which cannot
// hold every file name or title; the tool works in UTF-8 throughout, so it
// takes the wide command line and converts it.
static bool Utf8Arguments(std::vector<std::string>* args) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) return false;
    for (int i = 1; i < count; ++i) {
        int size = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(size > 0 ? size - 1 : 0, '\0');
        if (size > 1) ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &arg[0], size, nullptr, nullptr);
        args->push_back(arg);
    }
    ::LocalFree(wide);
    return true;
}
#endif

int main(int argc, char** argv) {
    std::vector<std::string> args;
#if defined(_WIN32)
    if (!Utf8Arguments(&args)) args.assign(argv + 1, argv + argc);
#else
    args.assign(argv + 1, argv + argc);
#endif
    std::string out, err;
    int code = kelpack::RunCli(args, &out, &err);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fwrite(err.data(), 1, err.size(), stderr);
    return code;
}
