// Text as people are shown it: resource bytes of no particular character
// set, a splash title as the window shows it, and JSON string literals.
// Shared by every command that reports what a file carries.
#pragma once

#include <string>

namespace kelpack {

// Bytes shown as text: printable ASCII as it is, the rest as \xNN.
std::string Printable(const std::string& s);

// What a window shows for configuration text: the bytes widened as the
// launcher widens them (text::Widen, each byte on its own), as UTF-8.
std::string WindowText(const std::string& bytes);

// A title as people are shown it everywhere (show, explain, pack's warning):
// what the window shows, quoted, and for bytes beyond ASCII the bytes beside
// it: "Game ￃﾼ" (bytes "Game \xc3\xbc").
std::string ShownTitle(const std::string& bytes);

// Bytes of no particular character set as a JSON string literal; each byte
// of 0x80 and above becomes the code point of the same value.
std::string JsonString(const std::string& s);

// `s` as a JSON string literal; with `utf8` the text is UTF-8 and passes through.
std::string JsonText(const std::string& s, bool utf8);

}  // namespace kelpack
