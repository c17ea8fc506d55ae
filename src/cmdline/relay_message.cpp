#include "cmdline/relay_message.h"

#include <cstdlib>

#include "text/text.h"

namespace cmdline {

char* RelayMessage(const char16_t* command, int32_t* length) {
    int32_t n = text::WideLength(command);
    // The engine reads bytes; a character above 0xFF goes as its low byte, not as UTF-8.
    char* message = static_cast<char*>(std::realloc(text::Narrow(command, n), static_cast<size_t>(n) + 2));
    message[n] = '\n';
    message[n + 1] = 0;
    *length = n + 1;
    return message;
}

// Decodes one, two and three byte sequences; a sequence's further bytes must
// not be NUL (checked before the next one is read), but their 10xxxxxx form
// is not checked. Lead bytes of four-byte sequences and stray continuation
// bytes never compare equal.
bool Utf8Equal(const char16_t* wide, const char* utf8) {
    const auto* s = reinterpret_cast<const unsigned char*>(utf8);
    for (;; ++wide) {
        if (*wide == 0) return *s == 0;
        if (*s == 0) return false;
        uint16_t c;
        if (s[0] < 0x80) {
            c = s[0];
            s += 1;
        } else if ((s[0] & 0xE0) == 0xC0) {
            if (s[1] == 0) return false;
            c = static_cast<uint16_t>(((s[0] & 0x1F) << 6) | (s[1] & 0x3F));
            s += 2;
        } else if ((s[0] & 0xF0) == 0xE0) {
            if (s[1] == 0 || s[2] == 0) return false;
            c = static_cast<uint16_t>(((s[0] & 0x0F) << 12) | ((s[1] & 0x3F) << 6) | (s[2] & 0x3F));
            s += 3;
        } else {
            return false;
        }
        if (c != static_cast<uint16_t>(*wide)) return false;
    }
}

}  // namespace cmdline
