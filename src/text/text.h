// Wide text (NUL-terminated 16-bit characters, the platform's own text) and
// byte text, and the growable buffer the merged command line is built in.
// Results are malloc'ed and belong to the caller.
#pragma once

#include <cstdint>

namespace text {

// The most bytes the launcher takes from one text resource. Sizes come from
// the module's resource directory, which a damaged launcher copy can set to
// anything; far above any real command line or configuration, this bound
// keeps every count derived from them (characters and terminator, entries)
// well inside 32 bits, as it must be on the device.
const uint32_t kMaxTakenBytes = 16u << 20;

// Characters before the first NUL.
int32_t WideLength(const char16_t* s);
// A new string holding a followed by b.
char16_t* WideJoin(const char16_t* a, const char16_t* b);
// True when no character is above 32 (space and control characters only), or the string is empty.
bool IsBlank(const char16_t* s);
// Widens count bytes (strlen when -1), each byte sign-extended to 16 bits; NUL-terminated.
// Null when the characters and terminator would not fit 32 bits of bytes, or no memory.
char16_t* Widen(const char* bytes, int32_t count);
// Narrows count characters (wide length when -1) to their low 8 bits; NUL-terminated.
char* Narrow(const char16_t* s, int32_t count);

// A growable buffer of 16-bit characters; not NUL-terminated until finished.
struct WideBuffer {
    char16_t* data;      // storage of capacity characters
    int32_t length;      // characters in use
    int32_t capacity;    // characters data can hold
};

// A new empty buffer with room for 256 characters.
WideBuffer* WideBufferCreate();
// Appends count characters from source.
void WideBufferAppend(WideBuffer* buffer, const char16_t* source, int32_t count);
// Appends one character.
void WideBufferAppendChar(WideBuffer* buffer, char16_t c);
// Appends a NUL (counted in length) and returns the storage as a string.
char16_t* WideBufferFinish(WideBuffer* buffer);

}  // namespace text
