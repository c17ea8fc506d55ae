#include "copy_contents.h"

#include <algorithm>
#include <cstdlib>

#include "contract/kel.h"
#include "shown_text.h"
#include "splash/config.h"
#include "text/text.h"
#include "text/utf8_strings.h"

namespace kelpack {

ResId AppType() { return ResNameUpper(kel::kApplicationResourceType); }
ResId AppName() { return ResNameUpper(kel::kApplicationResourceName); }
ResId TextType() { return ResNameUpper(kel::kTextResourceType); }
ResId CommandLineName() { return ResNameUpper(kel::kCommandLineResourceName); }
ResId ConfigName() { return ResNameUpper(kel::kConfigResourceName); }
ResId SplashType() { return ResNameUpper(kel::kSplashResourceType); }
ResId HiResAwareType() { return ResNameUpper(kel::kHiResAwareResourceType); }
ResId HiResAwareName() { return ResNameUpper(kel::kHiResAwareResourceName); }

std::vector<std::uint8_t> HiResMarkBytes() {
    return {static_cast<std::uint8_t>(kel::kHiResAwareValue & 0xFF), static_cast<std::uint8_t>(kel::kHiResAwareValue >> 8)};
}

HiResMark ReadHiResMark(const ResourceList& res) {
    HiResMark mark;
    const Resource* r = FindResource(res, HiResAwareType(), HiResAwareName());
    if (r == nullptr) return mark;
    mark.present = true;
    mark.marked = !r->source.external && r->data == HiResMarkBytes();
    if (mark.marked) return mark;
    // The first bytes are enough to tell people what it holds.
    const std::size_t size = static_cast<std::size_t>(LeafSize(*r)), shown = std::min<std::size_t>(r->data.size(), 8);
    mark.held = size == 1 ? "1 byte" : std::to_string(size) + " bytes";
    static const char kHex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < shown; ++i)
        mark.held += std::string(i == 0 ? ": " : " ") + kHex[r->data[i] >> 4] + kHex[r->data[i] & 15];
    if (shown < size) mark.held += " ...";
    return mark;
}

std::string ContractName(const char16_t* name) { return text::WideToUtf8(name); }

std::vector<ConfigEntry> SplitConfig(const std::string& text) {
    splash::SplashConfig* config = splash::ParseSplashConfig(text.data(), static_cast<std::uint32_t>(text.size()));
    std::vector<ConfigEntry> out;
    for (std::int32_t i = 0; i < config->count; ++i) {
        ConfigEntry e;
        e.key = config->keys[i];
        e.hasValue = config->values[i] != nullptr;
        if (e.hasValue) e.value = config->values[i];
        out.push_back(e);
    }
    splash::FreeSplashConfig(config);
    return out;
}

SplashValue ParseSplashValue(const std::string& value) {
    // The value ends at a NUL, as the launcher's copy of the text does.
    splash::SplashEntry parsed = splash::ParseSplashEntry(value.c_str());
    SplashValue e;
    e.width = static_cast<std::uint32_t>(parsed.width);   // never negative: no sign is read
    e.height = static_cast<std::uint32_t>(parsed.height);
    e.name = parsed.name;
    return e;
}

std::string BuildConfig(const std::vector<SplashValue>& entries, const std::string* title) {
    std::string t;
    for (const SplashValue& e : entries) {
        if (!t.empty()) t += '|';
        t += std::string(splash::kSplashKey) + "=" + std::to_string(e.width) + "x" + std::to_string(e.height) + ";" + e.name;
    }
    if (title) {
        if (!t.empty()) t += '|';
        t += std::string(splash::kSplashTitleKey) + "=" + *title;
    }
    return t;
}

bool CheckSplashName(const std::string& name, std::string* error) {
    if (name.empty()) {
        *error = "the bitmap name is empty";
        return false;
    }
    for (unsigned char c : name) {
        // The launcher widens each byte on its own, so only ASCII names reach
        // the resource lookup unchanged.
        if (c < 0x20 || c > 0x7E) {
            *error = "the bitmap name \"" + name + "\" has a character outside printable ASCII";
            return false;
        }
        if (c == '|') {
            *error = "the bitmap name \"" + name + "\" has a \"|\", which separates configuration entries";
            return false;
        }
    }
    if (name[0] == ';') {
        *error = "the bitmap name \"" + name + "\" starts with \";\", which the launcher skips";
        return false;
    }
    if (name[0] == '#') {
        *error = "the bitmap name \"" + name + "\" starts with \"#\", which a resource lookup reads as a number";
        return false;
    }
    return true;
}

namespace {

// A control character as messages name it.
std::string ControlName(unsigned char c) {
    switch (c) {
        case 0: return "a NUL";
        case '\n': return "a line feed (LF)";
        case '\r': return "a carriage return (CR)";
        case '\t': return "a tab";
        default: {
            static const char kHex[] = "0123456789ABCDEF";
            return std::string("a control character (0x") + kHex[c >> 4] + kHex[c & 15] + ")";
        }
    }
}

}  // namespace

bool CheckTitle(const std::string& title, std::string* error) {
    for (std::size_t i = 0; i < title.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(title[i]);
        if (c == 0) {
            *error = "the title has a NUL byte, which ends the configuration";
            return false;
        }
        // A window title is one line; the window would show a box or nothing.
        if (c < 0x20 || c == 0x7F) {
            *error = "the title has " + ControlName(c) + " at byte " + std::to_string(i + 1) +
                     "; a window title is one line of text without control characters";
            return false;
        }
    }
    if (title.find('|') != std::string::npos) {
        *error = "the title has a \"|\", which separates configuration entries";
        return false;
    }
    return true;
}

std::string TitleWarning(const std::string& title) {
    bool ascii = true;
    for (unsigned char c : title) ascii = ascii && c < 0x80;
    if (ascii) return std::string();
    return "the title has bytes beyond ASCII; the launcher widens each byte on its own (to a character from U+FF80 to "
           "U+FFFF), so the splash window shows " + ShownTitle(title) + ", not \"" + title + "\"";
}

bool CheckCommandLine(const std::string& text, std::string* error, std::string* warning) {
    warning->clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == 0 || c == '\n' || c == '\r') {
            *error = "the command line has " + ControlName(c) + " at byte " + std::to_string(i + 1) +
                     "; the launcher would cut it there";
            return false;
        }
        if (c >= 0x80 && warning->empty())
            *warning = "the command line has bytes beyond ASCII; the launcher widens each byte on its own, so they "
                       "reach the engine as characters U+FF80 to U+FFFF, not as the text they encode";
    }
    return true;
}

}  // namespace kelpack
