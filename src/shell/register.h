// Registers the .kel file type with the shell, so that opening a .kel file
// starts this launcher and the launcher can find an engine installed beside it.
#pragma once

#include "shell/registration.h"

namespace shell {

// Writes the five file-type entries under HKEY_CLASSES_ROOT; failures are skipped silently.
void RegisterFileType();

}  // namespace shell
