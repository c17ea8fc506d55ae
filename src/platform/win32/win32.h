// Shared by the win32 backend's files: the real API and the casts at its boundary.
#pragma once

// platform.h first: its constants share their names with the macros of
// <windows.h>, which would otherwise rewrite them. Below this point the
// backend uses the Windows macros, which carry the same values.
#include "platform/platform.h"

#include <windows.h>

namespace platform {
namespace win32 {

// char16_t and wchar_t are both 16 bits on Windows; text crosses here unchanged.
inline const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
inline wchar_t* W(char16_t* s) { return reinterpret_cast<wchar_t*>(s); }

// A routine a library exports, looked up by its wide name; null when missing.
// As a plain pointer, which the caller casts to the routine's real type.
void* Export(::HMODULE module, const wchar_t* name);

// Handles are the real ones behind opaque types.
template <typename To, typename From>
inline To As(From handle) { return reinterpret_cast<To>(handle); }

}  // namespace win32
}  // namespace platform
