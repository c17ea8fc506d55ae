// UTF-8 strings to and from UTF-16 strings, for the programs around the
// launcher: kelpack, whose arguments, paths and JSON are UTF-8, and the
// simulation and its tests. The launcher itself never converts whole
// strings; this file is apart from text/utf8.cpp so that its static link
// leaves these (and std::string) out.
#pragma once

#include <string>

namespace text {

// UTF-8 to UTF-16, characters above U+FFFF as surrogate pairs. Each byte
// that does not begin a well-formed sequence (text::DecodeUtf8) becomes
// U+FFFD. *wellFormed, when given, tells whether every sequence was.
std::u16string Utf8ToWide(const std::string& utf8, bool* wellFormed = nullptr);

// UTF-16 to UTF-8; a surrogate without its partner becomes U+FFFD.
std::string WideToUtf8(const std::u16string& wide);

}  // namespace text
