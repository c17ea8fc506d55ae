// What the relay sends, and how the scan recognises the relay option: pure
// functions of text, shared by the relay and the argument scan.
#pragma once

#include <cstdint>

namespace cmdline {

// The bytes a relay sends for a command: the low 8 bits of each character,
// then one LF; *length counts them all (a NUL follows, uncounted). malloc'ed.
char* RelayMessage(const char16_t* command, int32_t* length);

// True when the wide text equals the UTF-8 byte text, character for character.
// Neither text is read past its NUL.
bool Utf8Equal(const char16_t* wide, const char* utf8);

}  // namespace cmdline
