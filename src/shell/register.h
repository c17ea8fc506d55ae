// Registers the .kel file type with the shell, so that opening a .kel file
// starts this launcher and the launcher can find an engine installed beside it.
#pragma once

#include <cstdint>

namespace shell {

// What the merged command line asks of the registration.
enum class Registration {
    kNone,             // no trigger: the start-up goes on without registering
    kRegisterAndGoOn,  // a blank command line: register, then start as usual
    kRegisterOnly,     // a lone "+", perhaps followed by spaces: register and exit
};

// The registration trigger: blank (no character above 32) registers and goes on;
// "+" with nothing but spaces (0x20) after it registers only.
Registration RegistrationFor(const char16_t* commandLine);

// Writes the five file-type entries under HKEY_CLASSES_ROOT; failures are skipped silently.
void RegisterFileType();

// The launcher path with its last extension replaced by ".DLL"; the first character is never taken as the dot.
char16_t* EnginePathFor(const char16_t* launcherPath);

}  // namespace shell
