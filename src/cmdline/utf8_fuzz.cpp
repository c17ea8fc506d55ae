// Fuzzes the UTF-8 comparison on arbitrary wide and byte texts.
//
// Input: 1 byte n, then n UTF-16 characters (2n bytes, little-endian) of
// wide text, then the byte text. Each text is cut at its first NUL and put at
// the very end of a heap block of exactly its size, so that AddressSanitizer
// reports any read past a terminator.
//
// Besides the sanitizers: the UTF-8 encoding of the wide text always compares
// equal; a text that compares equal stops doing so when the wide text grows
// by one character; the byte count of an equal text lies between one and
// three bytes per character; and well-formed byte text without characters
// above U+FFFF equals what text::Utf8ToWide makes of it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cmdline/relay_message.h"
#include "text/utf8.h"
#include "text/utf8_strings.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// The text and its NUL, alone in a block of exactly their size.
char16_t* ExactWide(const std::u16string& s) {
    auto* block = static_cast<char16_t*>(std::malloc((s.size() + 1) * sizeof(char16_t)));
    std::memcpy(block, s.c_str(), (s.size() + 1) * sizeof(char16_t));
    return block;
}

char* ExactBytes(const std::string& s) {
    auto* block = static_cast<char*>(std::malloc(s.size() + 1));
    std::memcpy(block, s.c_str(), s.size() + 1);
    return block;
}

// Every 16-bit value in one, two or three bytes, surrogates included: the
// comparison works on 16-bit characters, not on code points.
std::string Encode(const std::u16string& w) {
    std::string out;
    for (char16_t c : w) {
        char bytes[4];
        out.append(bytes, static_cast<size_t>(text::EncodeUtf8(c, bytes)));
    }
    return out;
}

bool Equal(const std::u16string& w, const std::string& s) {
    char16_t* wide = ExactWide(w);
    char* bytes = ExactBytes(s);
    bool equal = cmdline::Utf8Equal(wide, bytes);
    std::free(bytes);
    std::free(wide);
    return equal;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t n = data[0];
    ++data;
    --size;
    if (n * 2 > size) n = size / 2;
    std::u16string w(n, u'\0');
    for (size_t i = 0; i < n; ++i) w[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    w = w.c_str();
    std::string s(reinterpret_cast<const char*>(data + 2 * n), size - 2 * n);
    s = s.c_str();

    bool equal = Equal(w, s);
    if (equal) {
        Check(s.size() >= w.size() && s.size() <= 3 * w.size());
        Check(!Equal(w + u'x', s));
    }
    Check(Equal(w, Encode(w)));
    // Only the empty byte text equals the empty wide text.
    Check(Equal(u"", s) == s.empty());
    bool wellFormed = false;
    std::u16string decoded = text::Utf8ToWide(s, &wellFormed);
    bool surrogates = false;
    for (char16_t c : decoded) surrogates = surrogates || (c >= 0xD800 && c <= 0xDFFF);
    if (wellFormed && !surrogates) Check(Equal(decoded, s));
    return 0;
}
