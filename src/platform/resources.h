// The launcher's resources read in place: the lookup every shell shares, on
// top of the platform's own operations, for either backend.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace platform {

// A resource's bytes, read in place and never released; null (length 0) when
// it is missing or cannot be loaded.
const void* LoadResourceBytes(HMODULE module, const char16_t* name, const char16_t* type, uint32_t* length);

}  // namespace platform
