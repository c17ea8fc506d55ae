// What the .kel file type's registration writes, and when a command line
// asks for it: pure functions of text, which kelpack shows as they are.
#pragma once

#include <cstdint>

namespace filetype {

// What the merged command line asks of the registration.
// (Unscoped: the device compiler cannot compare scoped enumerations; the
// enumerators are still written qualified, Name::kValue.)
enum Registration {
    kNone,             // no trigger: the start-up goes on without registering
    kRegisterAndGoOn,  // a blank command line: register, then start as usual
    kRegisterOnly,     // a lone "+", perhaps followed by spaces: register and exit
};

// The registration trigger: blank (no character above 32) registers and goes on;
// "+" with nothing but spaces (0x20) after it registers only.
Registration RegistrationFor(const char16_t* commandLine);

// The launcher path with its last extension replaced by ".DLL"; the first character is never taken as the dot.
char16_t* EnginePathFor(const char16_t* launcherPath);

// One entry a registration writes: a key under HKEY_CLASSES_ROOT and its default value.
struct RegistrationRow {
    char16_t* key;    // malloc'ed
    char16_t* value;  // malloc'ed
};
// The most rows a registration writes.
const int32_t kRegistrationRowCount = 5;

// The rows, in the order they are written, for a launcher at launcherPath:
// the class, its open command, its icon, its engine path, and the extension;
// only the first and the last when the path could not be had (null). Returns
// how many rows were filled.
int32_t RegistrationRows(const char16_t* launcherPath, RegistrationRow rows[kRegistrationRowCount]);
// Releases the texts of count rows.
void FreeRegistrationRows(RegistrationRow* rows, int32_t count);

}  // namespace filetype
