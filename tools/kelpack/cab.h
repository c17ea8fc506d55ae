// `kelpack cab`: an installation cabinet for Windows CE 4.20 and later on
// ARM, made from a device launcher copy (the output of `kelpack pack` on
// the device's kel.exe), and perhaps the engine, for the device's
// installer to install, list and remove.
#pragma once

#include <string>
#include <vector>

#include "installer.h"

namespace kelpack {

// Everything `cab` was asked to do.
struct CabOptions {
    std::string copy;               // the device launcher copy
    std::string output;
    bool hasName = false;           // false: the copy's title, else its file name without .exe
    std::string name;
    bool hasProvider = false;       // false: the copy's file name without .exe
    std::string provider;
    ShortcutFolder shortcut = ShortcutFolder::kPrograms;
    std::string engine;             // empty: no engine in the cabinet
    bool registerFileType = false;
};

// The outcome: the exit code, and what to tell the user.
struct CabResult {
    int exitCode = 0;
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
    std::vector<std::string> notes;   // the defaults taken
    std::string summary;              // what the cabinet installs, on success
};

// Reads and checks the copy and the engine, and writes the cabinet; nothing
// is written unless every check passed.
CabResult RunCab(const CabOptions& options);

}  // namespace kelpack
