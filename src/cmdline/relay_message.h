// What the relay sends, which port it sends to, and how the scan recognises
// the relay option: pure functions of bytes and text, shared by the relay,
// the argument scan and kelpack's explanation of a start.
#pragma once

#include <cstdint>

namespace cmdline {

// The bytes a relay sends for a command: the low 8 bits of each character,
// then one LF; *length counts them all (a NUL follows, uncounted). malloc'ed.
char* RelayMessage(const char16_t* command, int32_t* length);

// Where the engine listens for relayed commands: this machine only.
const char kRelayAddress[] = "127.0.0.1";

// The longest "ServerPort" value that is a port, in bytes. Whatever the
// value's type, up to this many bytes fill the number from its low end; a
// longer value does not fit and is no port.
const uint32_t kServerPortMaxBytes = 4;
// The number a ServerPort value of size bytes holds (little-endian), 0 when
// it is longer than kServerPortMaxBytes. Its low 16 bits are the port.
inline uint32_t ServerPortFromValue(const uint8_t* bytes, uint32_t size) {
    if (size > kServerPortMaxBytes) return 0;
    uint32_t value = 0;
    for (uint32_t i = size; i > 0; --i) value = (value << 8) | bytes[i - 1];
    return value;
}

// True when the wide text equals the UTF-8 byte text, character for character.
// Neither text is read past its NUL.
bool Utf8Equal(const char16_t* wide, const char* utf8);

}  // namespace cmdline
