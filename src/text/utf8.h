// UTF-8 one sequence at a time: the step that the launcher's comparison of
// the relay option (cmdline::Utf8Equal) and the string conversions kelpack
// and the tests use (text/utf8_strings.h) share, so that UTF-8 is decoded in one place. No
// allocation and no library: the launcher links it.
//
//   bytes                decodes to      length  wellFormed
//   "A"                  U+0041          1       yes
//   "\xC3\xA9"           U+00E9          2       yes
//   "\xE2\x82\xAC"       U+20AC          3       yes
//   "\xF0\x9F\x98\x80"   U+1F600         4       yes
//   "\xC3\x29"           U+00E9          2       no   (0x29 is no continuation byte)
//   "\xC0\x80"           U+0000          2       no   (overlong)
//   "\xED\xA0\x80"       U+D800          3       no   (surrogate)
//   "\xE2\x82" NUL       -               0            (cut off)
//   "\x80", "\xFF"       -               0            (no lead byte)
#pragma once

#include <cstdint>

namespace text {

// One UTF-8 sequence read from byte text.
struct Utf8Sequence {
    uint32_t codePoint;  // the value its bits give; 0 when length is 0
    int32_t length;      // bytes it takes, 1 to 4; 0 when the bytes start no sequence or a NUL cuts it short
    bool wellFormed;     // shortest form, every further byte 10xxxxxx, no surrogate, at most U+10FFFF
};

// Reads the sequence that starts at bytes. The lead byte gives its length;
// a further byte gives its low 6 bits whatever its top two are (wellFormed
// says whether they were 10), and a NUL among them cuts the sequence short,
// so that NUL-terminated text is never read past its NUL. A NUL lead byte
// is the one-byte sequence U+0000.
Utf8Sequence DecodeUtf8(const char* bytes);

// Writes the UTF-8 bytes of codePoint (at most U+10FFFF; surrogates are
// written like any other value) to out, which has room for 4; returns how many.
int32_t EncodeUtf8(uint32_t codePoint, char* out);

}  // namespace text
