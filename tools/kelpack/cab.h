// `kelpack cab`: an installation cabinet for Windows CE 4.20 and later on
// ARM, made from a device launcher copy (the output of `kelpack pack` on
// the device's kel.exe), and perhaps the engine, for the device's
// installer to install, list and remove.
#pragma once

#include <string>
#include <vector>

#include "installer.h"
#include "options.h"
#include "outcome.h"

namespace kelpack {

// Everything `cab` was asked to do.
struct CabOptions {
    std::string copy;               // the device launcher copy
    std::string output;
    bool hasName = false;           // false: the copy's title, else its file name without .exe
    std::string name;
    bool hasProvider = false;       // false: the copy's file name without .exe
    std::string provider;
    bool hasShortcut = false;       // false: Programs, none for the runtime
    ShortcutFolder shortcut = ShortcutFolder::kPrograms;
    std::string engine;             // empty: no engine in the cabinet
    bool runtime = false;           // the runtime: COPY is kel.exe as built, the handler of .kel files
    bool compress = false;          // MSZIP, else stored
    bool registerFileType = false;  // asked for, which only the runtime does (and always)
};

// cab's spec: its help, and how its arguments are read into its options.
const CommandSpec<CabOptions>& CabSpec();

// Reads and checks the copy and the engine, and writes the cabinet; nothing
// is written unless every check passed. The outcome's notes say which
// defaults were taken, its output what the cabinet installs.
Outcome RunCab(const CabOptions& options);

}  // namespace kelpack
