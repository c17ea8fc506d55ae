// What a device can load and what the launcher needs of an image: the size
// limits `pack` holds a copy to and `show` reports, and the signs that a PE
// image is not a launcher at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pe.h"

namespace kelpack {

// A Windows CE 4.20 process lives in a 32 MB slot of the address space that
// holds its image, its heap and its stacks. A copy above the warning size
// leaves the application little room; one above the slot cannot start.
constexpr std::uint64_t kDeviceSlotBytes = std::uint64_t{32} << 20;
constexpr std::uint64_t kDeviceWarnBytes = std::uint64_t{16} << 20;
// What the PE format itself allows: 32-bit offsets, sizes and addresses.
constexpr std::uint64_t kMaxPeBytes = 0xFFFFFFFFull;

// "20.5 MiB (21495808 bytes)".
std::string MibText(std::uint64_t bytes);

// For an image that needs `bytes` of address space: empty up to
// kDeviceWarnBytes, else a warning that says what the device makes of it.
std::string ImageSizeWarning(std::uint64_t bytes);

// Why `pack` refuses an image above kDeviceSlotBytes without --allow-large.
std::string ImageSizeRefusal(std::uint64_t bytes);

// The machines the launcher is built for: x64, x86 and ARM.
bool IsLauncherMachine(std::uint16_t machine);

// What the image lacks to be a launcher, each a sentence: a DLL, another
// subsystem than a Windows (CE) GUI program, code that never names the
// CommandLine resource, a machine no launcher is built for. Empty for a
// launcher.
std::vector<std::string> LauncherWarnings(const PeImage& image);

}  // namespace kelpack
