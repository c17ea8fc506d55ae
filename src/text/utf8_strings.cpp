#include "text/utf8_strings.h"

#include "text/utf8.h"

namespace text {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsHighSurrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::u16string Utf8ToWide(const std::string& utf8, bool* wellFormed) {
    std::u16string wide;
    bool allWellFormed = true;
    // c_str(): the terminator ends a sequence cut off by the string's end.
    const char* bytes = utf8.c_str();
    for (size_t i = 0; i < utf8.size();) {
        Utf8Sequence sequence = DecodeUtf8(bytes + i);
        if (sequence.length == 0 || !sequence.wellFormed) {
            allWellFormed = false;
            wide.push_back(kReplacement);
            ++i;
            continue;
        }
        uint32_t c = sequence.codePoint;
        if (c >= 0x10000) {
            c -= 0x10000;
            wide.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            wide.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            wide.push_back(static_cast<char16_t>(c));
        }
        i += static_cast<size_t>(sequence.length);
    }
    if (wellFormed != nullptr) *wellFormed = allWellFormed;
    return wide;
}

std::string WideToUtf8(const std::u16string& wide) {
    std::string utf8;
    for (size_t i = 0; i < wide.size(); ++i) {
        uint32_t c = wide[i];
        if (IsHighSurrogate(c) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00u);
            ++i;
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            c = kReplacement;
        }
        char bytes[4];
        utf8.append(bytes, static_cast<size_t>(EncodeUtf8(c, bytes)));
    }
    return utf8;
}

}  // namespace text
