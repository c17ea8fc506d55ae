#include "text/utf8.h"

namespace text {

Utf8Sequence DecodeUtf8(const char* bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes);
    Utf8Sequence sequence{0, 0, false};
    int32_t length;
    uint32_t value;
    uint32_t shortest;  // the least value that needs this many bytes
    if (s[0] < 0x80) {
        sequence.codePoint = s[0];
        sequence.length = 1;
        sequence.wellFormed = true;
        return sequence;
    } else if ((s[0] & 0xE0) == 0xC0) {
        length = 2;
        value = s[0] & 0x1Fu;
        shortest = 0x80;
    } else if ((s[0] & 0xF0) == 0xE0) {
        length = 3;
        value = s[0] & 0x0Fu;
        shortest = 0x800;
    } else if ((s[0] & 0xF8) == 0xF0) {
        length = 4;
        value = s[0] & 0x07u;
        shortest = 0x10000;
    } else {
        return sequence;  // a continuation byte, or 0xF8 to 0xFF
    }
    bool continuations = true;
    for (int32_t i = 1; i < length; ++i) {
        // Checked before the next byte is read: the NUL may be the last byte there is.
        if (s[i] == 0) return sequence;
        continuations = continuations && (s[i] & 0xC0) == 0x80;
        value = (value << 6) | (s[i] & 0x3Fu);
    }
    sequence.codePoint = value;
    sequence.length = length;
    sequence.wellFormed = continuations && value >= shortest && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
    return sequence;
}

int32_t EncodeUtf8(uint32_t codePoint, char* out) {
    if (codePoint < 0x80) {
        out[0] = static_cast<char>(codePoint);
        return 1;
    }
    if (codePoint < 0x800) {
        out[0] = static_cast<char>(0xC0 | (codePoint >> 6));
        out[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
        return 2;
    }
    if (codePoint < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (codePoint >> 12));
        out[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (codePoint >> 18));
    out[1] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 4;
}

}  // namespace text
