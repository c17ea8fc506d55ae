// Registers the .kel file type with the shell, so that opening a .kel file
// starts this launcher and the launcher can find an engine installed beside it.
#pragma once

#include <cstdint>

namespace shell {

// Writes the five file-type entries under HKEY_CLASSES_ROOT; failures are skipped silently.
void RegisterFileType();

// The launcher path with its last extension replaced by ".DLL"; the first character is never taken as the dot.
char16_t* EnginePathFor(const char16_t* launcherPath);

}  // namespace shell
