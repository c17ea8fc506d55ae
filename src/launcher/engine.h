// What the launcher fixes about the engine library.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace launcher {

// The engine's entry routine, exported as "KelMainW": instance, previous
// instance, the final command line, show flag, the launcher's module and the
// engine's own module; its result is the launcher's exit code.
using KelMainWProc = int32_t (*)(platform::HINSTANCE instance, platform::HINSTANCE previous,
                                 const char16_t* commandLine, int show, platform::HMODULE launcherModule,
                                 platform::HMODULE engineModule);

// The engine library's name, found through the platform's search rules.
constexpr const char16_t* kEngineLibraryName = u"Kel.dll";
// The key under HKEY_CLASSES_ROOT whose default value names the engine when it is not found by name.
constexpr const char16_t* kEnginePathKey = u"KelFile10\\DLL";
// The longest registered engine path taken, in bytes: the platform's longest
// path (32767 characters), its terminator and surrounding quotes.
constexpr uint32_t kMaxEnginePathBytes = (32767 + 3) * sizeof(char16_t);

// Loads the engine by name, else through the registered path; null when neither loads.
platform::HMODULE LoadEngineLibrary();

}  // namespace launcher
