#include "shown_text.h"

#include <cstdio>
#include <cstdlib>

#include "text/text.h"
#include "text/utf8_strings.h"

namespace kelpack {

std::string Printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
    }
    return out;
}

std::string WindowText(const std::string& bytes) {
    char16_t* wide = text::Widen(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    std::string shown = wide ? text::WideToUtf8(std::u16string(wide, bytes.size())) : Printable(bytes);
    std::free(wide);
    return shown;
}

std::string ShownTitle(const std::string& bytes) {
    // Control characters as \xNN; the window's characters beyond ASCII as they are.
    std::string shown = "\"";
    for (char c : WindowText(bytes))
        shown += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? Printable(std::string(1, c)) : std::string(1, c);
    shown += "\"";
    for (unsigned char c : bytes)
        if (c >= 0x80) return shown + " (bytes \"" + Printable(bytes) + "\")";
    return shown;
}

std::string JsonString(const std::string& s) { return JsonText(s, false); }

std::string JsonText(const std::string& s, bool utf8) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F || (c >= 0x80 && !utf8)) {
                    // Resource text is bytes with no character set; each byte is
                    // given as the code point of the same value.
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

}  // namespace kelpack
