#include "cmdline/relay_message.h"

#include <cstdlib>

#include "text/text.h"
#include "text/utf8.h"

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

// Each one, two or three byte sequence is one 16-bit character, compared
// as text::DecodeUtf8 reads it: the 10xxxxxx form of its further bytes is not
// checked, nor is its form the shortest. A four-byte sequence never makes
// one character, and bytes that start no sequence compare unequal.
bool Utf8Equal(const char16_t* wide, const char* utf8) {
    for (;; ++wide) {
        if (*wide == 0) return *utf8 == 0;
        if (*utf8 == 0) return false;
        text::Utf8Sequence sequence = text::DecodeUtf8(utf8);
        if (sequence.length == 0 || sequence.length == 4) return false;
        if (sequence.codePoint != static_cast<uint16_t>(*wide)) return false;
        utf8 += sequence.length;
    }
}

}  // namespace cmdline
