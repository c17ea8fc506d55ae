#include "resources.h"

#include <algorithm>

namespace kelpack {

namespace {

char16_t UpperAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

int CompareUpper(const std::u16string& a, const std::u16string& b) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        char16_t x = UpperAscii(a[i]), y = UpperAscii(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

const char* TypeName(std::uint32_t id) {
    switch (id) {
        case 1: return "CURSOR";
        case 2: return "BITMAP";
        case 3: return "ICON";
        case 4: return "MENU";
        case 5: return "DIALOG";
        case 6: return "STRING";
        case 7: return "FONTDIR";
        case 8: return "FONT";
        case 9: return "ACCELERATOR";
        case 10: return "RCDATA";
        case 11: return "MESSAGETABLE";
        case 12: return "GROUP_CURSOR";
        case 14: return "GROUP_ICON";
        case 16: return "VERSION";
        case 24: return "MANIFEST";
        default: return nullptr;
    }
}

}  // namespace

ResId IntResId(std::uint32_t id) {
    ResId r;
    r.id = id;
    return r;
}

ResId ResNameUpper(const std::string& utf8) {
    std::u16string name;
    if (!Utf8ToUtf16(utf8, &name)) {
        // Callers check their names before; keep the bytes rather than lose them.
        name.assign(utf8.begin(), utf8.end());
    }
    return ResNameUpper(name.c_str());
}

ResId ResNameUpper(const char16_t* name) {
    ResId r;
    r.isName = true;
    r.name = name;
    for (char16_t& c : r.name) c = UpperAscii(c);
    return r;
}

bool ResIdMatches(const ResId& a, const ResId& b) { return ResIdCompare(a, b) == 0; }

int ResIdCompare(const ResId& a, const ResId& b) {
    if (a.isName != b.isName) return a.isName ? -1 : 1;
    if (a.isName) return CompareUpper(a.name, b.name);
    if (a.id == b.id) return 0;
    return a.id < b.id ? -1 : 1;
}

void SortResources(ResourceList* list) {
    std::stable_sort(list->begin(), list->end(), [](const Resource& x, const Resource& y) {
        int c = ResIdCompare(x.type, y.type);
        if (c != 0) return c < 0;
        c = ResIdCompare(x.name, y.name);
        if (c != 0) return c < 0;
        return x.lang < y.lang;
    });
}

std::string ResIdText(const ResId& id, bool isType) {
    if (id.isName) return Utf16ToUtf8(id.name);
    std::string s = "#" + std::to_string(id.id);
    if (isType) {
        if (const char* n = TypeName(id.id)) s += std::string(" (") + n + ")";
    }
    return s;
}

const Resource* FindResource(const ResourceList& list, const ResId& type, const ResId& name) {
    for (const Resource& r : list) {
        if (ResIdMatches(r.type, type) && ResIdMatches(r.name, name)) return &r;
    }
    return nullptr;
}

int RemoveResources(ResourceList* list, const ResId& type, const ResId& name) {
    auto end = std::remove_if(list->begin(), list->end(), [&](const Resource& r) {
        return ResIdMatches(r.type, type) && ResIdMatches(r.name, name);
    });
    int n = static_cast<int>(list->end() - end);
    list->erase(end, list->end());
    return n;
}

void PutResource(ResourceList* list, const ResId& type, const ResId& name, std::vector<std::uint8_t> data) {
    Resource leaf;
    leaf.type = type;
    leaf.name = name;
    if (const Resource* old = FindResource(*list, type, name)) {
        leaf.lang = old->lang;
        leaf.codepage = old->codepage;
    }
    leaf.data = std::move(data);
    RemoveResources(list, type, name);
    list->push_back(std::move(leaf));
}

std::string Utf16ToUtf8(const std::u16string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        std::uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool Utf8ToUtf16(const std::string& s, std::u16string* out) {
    out->clear();
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        std::uint32_t c;
        int extra;
        if (b < 0x80) { c = b; extra = 0; }
        else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; extra = 1; }
        else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; extra = 2; }
        else if ((b & 0xF8) == 0xF0) { c = b & 0x07; extra = 3; }
        else return false;
        if (i + extra >= s.size()) return false;  // sequence cut off by the end
        for (int k = 1; k <= extra; ++k) {
            unsigned char n = static_cast<unsigned char>(s[i + k]);
            if ((n & 0xC0) != 0x80) return false;
            c = (c << 6) | (n & 0x3F);
        }
        // Overlong forms and surrogate code points are not text.
        if ((extra == 1 && c < 0x80) || (extra == 2 && c < 0x800) || (extra == 3 && c < 0x10000) ||
            c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        if (c >= 0x10000) {
            c -= 0x10000;
            out->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out->push_back(static_cast<char16_t>(c));
        }
        i += extra + 1;
    }
    return true;
}

}  // namespace kelpack
