// Text helpers for tests: UTF-8 literals to the launcher's char16_t text and
// back, for building inputs and printing what went wrong. They are the
// launcher's own conversions (U+FFFD for what is not well-formed), so a test
// sees text as kelpack does.
#pragma once

#include <string>

#include "text/utf8_strings.h"

namespace testsupport {

inline std::u16string U16(const std::string& utf8) { return text::Utf8ToWide(utf8); }
inline std::string U8(const std::u16string& wide) { return text::WideToUtf8(wide); }

}  // namespace testsupport
