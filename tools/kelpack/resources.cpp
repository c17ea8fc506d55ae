#include "resources.h"

#include <algorithm>

#include "text/utf8_strings.h"

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
    bool wellFormed = true;
    std::u16string name = text::Utf8ToWide(utf8, &wellFormed);
    // Callers check their names before; keep the bytes rather than lose them.
    if (!wellFormed) name.assign(utf8.begin(), utf8.end());
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

bool ResourceOrder(const Resource& x, const Resource& y) {
    int c = ResIdCompare(x.type, y.type);
    if (c != 0) return c < 0;
    c = ResIdCompare(x.name, y.name);
    if (c != 0) return c < 0;
    return x.lang < y.lang;
}

void SortResources(ResourceList* list) { std::stable_sort(list->begin(), list->end(), ResourceOrder); }

std::string ResIdText(const ResId& id, bool isType) {
    if (id.isName) return text::WideToUtf8(id.name);
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

namespace {

void PutLeaf(ResourceList* list, Resource leaf) {
    if (const Resource* old = FindResource(*list, leaf.type, leaf.name)) {
        leaf.lang = old->lang;
        leaf.codepage = old->codepage;
    }
    RemoveResources(list, leaf.type, leaf.name);
    list->push_back(std::move(leaf));
}

}  // namespace

void PutFileResource(ResourceList* list, const ResId& type, const ResId& name, const LeafSource& source) {
    Resource leaf;
    leaf.type = type;
    leaf.name = name;
    leaf.source = source;
    PutLeaf(list, std::move(leaf));
}

void PutResource(ResourceList* list, const ResId& type, const ResId& name, std::vector<std::uint8_t> data) {
    Resource leaf;
    leaf.type = type;
    leaf.name = name;
    leaf.data = std::move(data);
    PutLeaf(list, std::move(leaf));
}

}  // namespace kelpack
