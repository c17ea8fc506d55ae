// Registers the .kel file type with the shell, so that opening a .kel file
// starts this launcher and the launcher can find an engine installed beside it.
#pragma once

#include "filetype/registration.h"

namespace filetype {

// Writes the five file-type entries under HKEY_CLASSES_ROOT; failures are skipped silently.
void RegisterFileType();

}  // namespace filetype
