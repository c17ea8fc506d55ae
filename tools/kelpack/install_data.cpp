#include "install_data.h"

#include <map>

#include "byteio.h"

namespace kelpack {

namespace {

constexpr std::uint32_t kHeaderBytes = 100;
constexpr std::uint32_t kSignature = 0x4543534D;  // "MSCE"

// The sections after the names, in the order the header counts them.
enum Section { kStrings, kDirs, kFiles, kKeys, kValues, kLinks, kSectionCount };
const char* const kSectionNames[kSectionCount] = {"STRINGS", "DIRS", "FILES", "REGHIVES", "REGKEYS", "LINKS"};

// Numbers the pieces of paths, key names and link names as the STRINGS
// section holds them, the first-used first.
struct StringTable {
    std::map<std::string, std::uint16_t> ids;
    std::vector<std::string> texts;

    bool Pieces(const std::vector<std::string>& pieces, const std::string& what, std::vector<std::uint8_t>* out,
                std::string* error) {
        if (pieces.empty()) return Fail(error, what + " has no path");
        for (const std::string& p : pieces) {
            if (p.empty() || p.find('\0') != std::string::npos || p.size() > 0xFFFE)
                return Fail(error, what + ": a path piece must be 1 to 65534 bytes without NUL");
            auto found = ids.find(p);
            if (found == ids.end()) {
                if (texts.size() >= 0xFFFF) return Fail(error, "more than 65535 different path pieces");
                texts.push_back(p);
                found = ids.emplace(p, static_cast<std::uint16_t>(texts.size())).first;
            }
            AppendU16(out, found->second);
        }
        AppendU16(out, 0);
        return true;
    }
};

// Appends `body` as one entry whose 16-bit byte length comes after `head`.
bool Entry(std::vector<std::uint8_t>* section, const std::vector<std::uint8_t>& head, const std::vector<std::uint8_t>& body,
           const std::string& what, std::string* error) {
    if (body.size() > 0xFFFF) return Fail(error, what + " takes " + std::to_string(body.size()) + " bytes, more than 65535");
    section->insert(section->end(), head.begin(), head.end());
    AppendU16(section, static_cast<std::uint32_t>(body.size()));
    section->insert(section->end(), body.begin(), body.end());
    return true;
}

std::vector<std::uint8_t> Text(const std::string& s) {
    std::vector<std::uint8_t> t(s.begin(), s.end());
    t.push_back(0);
    return t;
}

// The sections' bytes and entry counts, laid out from the records.
struct Sections {
    std::vector<std::uint8_t> bytes[kSectionCount];
    std::size_t counts[kSectionCount] = {};
};

bool LayOutSections(const CeInstall& in, Sections* s, std::string* error) {
    StringTable strings;
    std::vector<std::uint8_t> h, body;
    auto u16 = [&](std::uint32_t v) { AppendU16(&h, v); };
    auto known = [](const auto& records, std::uint16_t id) {
        for (const auto& r : records)
            if (r.id == id) return true;
        return false;
    };
    for (const CeDir& d : in.dirs) {
        std::string what = "directory " + std::to_string(d.id);
        h.clear(), body.clear(), u16(d.id);
        if (!strings.Pieces(d.path, what, &body, error) || !Entry(&s->bytes[kDirs], h, body, what, error)) return false;
    }
    for (const CeFile& f : in.files) {
        std::string what = "file " + std::to_string(f.id) + " (\"" + f.name + "\")";
        if (!known(in.dirs, f.dir)) return Fail(error, what + " names directory " + std::to_string(f.dir) + ", which is not there");
        if (f.name.empty() || f.name.find('\0') != std::string::npos) return Fail(error, what + ": a file needs a name without NUL");
        h.clear(), u16(f.id), u16(f.dir), u16(f.id), AppendU32(&h, f.flags);
        if (!Entry(&s->bytes[kFiles], h, Text(f.name), what, error)) return false;
    }
    for (const CeRegKey& k : in.keys) {
        std::string what = "registry key " + std::to_string(k.id);
        h.clear(), body.clear(), u16(k.id), u16(k.root), u16(0);
        if (!strings.Pieces(k.path, what, &body, error) || !Entry(&s->bytes[kKeys], h, body, what, error)) return false;
    }
    for (const CeRegValue& v : in.values) {
        std::string what = "registry value " + std::to_string(v.id);
        if (!known(in.keys, v.key)) return Fail(error, what + " names key " + std::to_string(v.key) + ", which is not there");
        if (v.name.find('\0') != std::string::npos) return Fail(error, what + ": its name holds a NUL");
        h.clear(), u16(v.id), u16(v.key), u16(v.substitute ? 1 : 0), AppendU32(&h, v.type);
        body = Text(v.name);
        body.insert(body.end(), v.data.begin(), v.data.end());
        if (!Entry(&s->bytes[kValues], h, body, what, error)) return false;
    }
    for (const CeLink& l : in.links) {
        std::string what = "shortcut " + std::to_string(l.id);
        if (l.toFile ? !known(in.files, l.target) : !known(in.dirs, l.target))
            return Fail(error, what + " points at " + (l.toFile ? "file " : "directory ") + std::to_string(l.target) +
                                   ", which is not there");
        h.clear(), body.clear(), u16(l.id), u16(0), u16(l.base), u16(l.target), u16(l.toFile ? 1 : 0);
        if (!strings.Pieces(l.path, what, &body, error) || !Entry(&s->bytes[kLinks], h, body, what, error)) return false;
    }
    for (std::size_t i = 0; i < strings.texts.size(); ++i) {
        h.clear(), u16(static_cast<std::uint32_t>(i + 1));
        if (!Entry(&s->bytes[kStrings], h, Text(strings.texts[i]), "string \"" + strings.texts[i] + "\"", error)) return false;
    }
    s->counts[kStrings] = strings.texts.size();
    s->counts[kDirs] = in.dirs.size();
    s->counts[kFiles] = in.files.size();
    s->counts[kKeys] = in.keys.size();
    s->counts[kValues] = in.values.size();
    s->counts[kLinks] = in.links.size();
    for (int i = 0; i < kSectionCount; ++i)
        if (s->counts[i] > 0xFFFF) return Fail(error, std::string("more than 65535 entries in ") + kSectionNames[i]);
    return true;
}

// Reads installation data within its stated length.
struct Reader {
    const std::vector<std::uint8_t>& b;
    std::uint32_t size;
    std::string* error;
    std::map<std::uint16_t, std::string> strings;

    // NUL-terminated text of `length` bytes at `at` (the text ends at its first NUL).
    bool Text(std::uint64_t at, std::uint64_t length, const std::string& what, std::string* out) {
        if (!InBounds(size, at, length)) return Fail(error, what + " runs past the end of the installation data");
        out->clear();
        for (std::uint64_t i = 0; i < length && b[at + i] != 0; ++i) *out += static_cast<char>(b[at + i]);
        return true;
    }

    // String ids ending in 0 (or at the entry's end), resolved.
    bool Pieces(std::uint64_t at, std::uint64_t length, const std::string& what, std::vector<std::string>* out) {
        out->clear();
        for (std::uint64_t i = 0; i + 1 < length; i += 2) {
            std::uint16_t id = GetU16(b, at + i);
            if (id == 0) return true;
            auto found = strings.find(id);
            if (found == strings.end()) return Fail(error, what + " names string " + std::to_string(id) + ", which STRINGS lacks");
            out->push_back(found->second);
        }
        return Fail(error, what + ": its string ids do not end in 0");
    }

    // Walks `count` entries of a section: each a fixed head of `headBytes`
    // whose last two bytes are the length of what follows.
    template <typename Visit>
    bool Entries(std::uint32_t at, std::uint16_t count, std::uint32_t headBytes, const char* section, Visit visit) {
        std::uint64_t pos = at;
        for (std::uint32_t i = 0; i < count; ++i) {
            std::string what = std::string(section) + " entry " + std::to_string(i + 1);
            if (!InBounds(size, pos, headBytes)) return Fail(error, what + " lies past the end of the installation data");
            std::uint16_t length = GetU16(b, pos + headBytes - 2);
            if (!InBounds(size, pos + headBytes, length)) return Fail(error, what + " runs past the end of the installation data");
            if (!visit(pos, pos + headBytes, length, what)) return false;
            pos += headBytes + length;
        }
        return true;
    }
};

bool ReadNames(Reader& r, CeInstall* out) {
    const std::vector<std::uint8_t>& b = r.b;
    if (!r.Text(GetU16(b, 84), GetU16(b, 86), "APPNAME", &out->appName) ||
        !r.Text(GetU16(b, 88), GetU16(b, 90), "PROVIDER", &out->provider))
        return false;
    std::uint16_t at = GetU16(b, 92), length = GetU16(b, 94);
    if (!InBounds(r.size, at, length)) return Fail(r.error, "UNSUPPORTED runs past the end of the installation data");
    std::string name;
    for (std::uint32_t i = 0; i < length; ++i) {
        if (b[at + i] != 0) {
            name += static_cast<char>(b[at + i]);
        } else if (name.empty()) {
            break;  // the empty name ends the list
        } else {
            out->unsupported.push_back(name);
            name.clear();
        }
    }
    return true;
}

bool ReadSections(Reader& r, CeInstall* out) {
    const std::vector<std::uint8_t>& b = r.b;
    std::uint16_t count[kSectionCount];
    std::uint32_t at[kSectionCount];
    for (int i = 0; i < kSectionCount; ++i) {
        count[i] = GetU16(b, 48 + 2 * i);
        at[i] = GetU32(b, 60 + 4 * i);
    }
    bool ok = r.Entries(at[kStrings], count[kStrings], 4, "STRINGS", [&](std::uint64_t h, std::uint64_t d, std::uint16_t n, const std::string& what) {
        std::string text;
        if (!r.Text(d, n, what, &text)) return false;
        if (text.empty()) return Fail(r.error, what + " is empty");
        if (!r.strings.emplace(GetU16(b, h), text).second)
            return Fail(r.error, what + ": string " + std::to_string(GetU16(b, h)) + " is given twice");
        return true;
    });
    ok = ok && r.Entries(at[kDirs], count[kDirs], 4, "DIRS", [&](std::uint64_t h, std::uint64_t d, std::uint16_t n, const std::string& what) {
        CeDir dir;
        dir.id = GetU16(b, h);
        out->dirs.push_back(dir);
        return r.Pieces(d, n, what, &out->dirs.back().path);
    });
    ok = ok && r.Entries(at[kFiles], count[kFiles], 12, "FILES", [&](std::uint64_t h, std::uint64_t d, std::uint16_t n, const std::string& what) {
        CeFile f;
        f.id = GetU16(b, h);
        f.dir = GetU16(b, h + 2);
        f.flags = GetU32(b, h + 6);
        if (GetU16(b, h + 4) != f.id) return Fail(r.error, what + " gives two file ids, " + std::to_string(f.id) + " and " + std::to_string(GetU16(b, h + 4)));
        out->files.push_back(f);
        return r.Text(d, n, what, &out->files.back().name);
    });
    ok = ok && r.Entries(at[kKeys], count[kKeys], 8, "REGHIVES", [&](std::uint64_t h, std::uint64_t d, std::uint16_t n, const std::string& what) {
        CeRegKey k;
        k.id = GetU16(b, h);
        k.root = GetU16(b, h + 2);
        out->keys.push_back(k);
        return r.Pieces(d, n, what, &out->keys.back().path);
    });
    ok = ok && r.Entries(at[kValues], count[kValues], 12, "REGKEYS", [&](std::uint64_t h, std::uint64_t d, std::uint16_t n, const std::string& what) {
        CeRegValue v;
        v.id = GetU16(b, h);
        v.key = GetU16(b, h + 2);
        v.substitute = GetU16(b, h + 4) != 0;
        v.type = GetU32(b, h + 6);
        std::uint64_t nul = 0;
        while (nul < n && b[d + nul] != 0) ++nul;
        if (nul == n) return Fail(r.error, what + ": its value name has no NUL");
        v.name.assign(b.begin() + static_cast<std::ptrdiff_t>(d), b.begin() + static_cast<std::ptrdiff_t>(d + nul));
        v.data.assign(b.begin() + static_cast<std::ptrdiff_t>(d + nul + 1), b.begin() + static_cast<std::ptrdiff_t>(d + n));
        out->values.push_back(v);
        return true;
    });
    ok = ok && r.Entries(at[kLinks], count[kLinks], 12, "LINKS", [&](std::uint64_t h, std::uint64_t d, std::uint16_t n, const std::string& what) {
        CeLink l;
        l.id = GetU16(b, h);
        l.base = GetU16(b, h + 4);
        l.target = GetU16(b, h + 6);
        l.toFile = GetU16(b, h + 8) != 0;
        out->links.push_back(l);
        return r.Pieces(d, n, what, &out->links.back().path);
    });
    return ok;
}

}  // namespace

std::string CeMemberName(const std::string& name, std::uint16_t id) {
    std::string stem;
    for (char c : name.substr(0, name.rfind('.') == 0 ? std::string::npos : name.rfind('.'))) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (plain && stem.size() < 8) stem += c;
    }
    std::string number = std::to_string(id % 1000);
    return std::string(8 - stem.size(), '0') + stem + "." + std::string(3 - number.size(), '0') + number;
}

bool LayOutInstallData(const CeInstall& in, std::vector<std::uint8_t>* out, std::string* error) {
    Sections s;
    if (!LayOutSections(in, &s, error)) return false;
    for (const std::string* t : {&in.appName, &in.provider})
        if (t->find('\0') != std::string::npos) return Fail(error, "the application name and provider may not hold a NUL");
    std::vector<std::uint8_t> unsupported;
    for (const std::string& p : in.unsupported) {
        if (p.empty() || p.find('\0') != std::string::npos) return Fail(error, "an unsupported platform's name must be 1 or more bytes without NUL");
        unsupported.insert(unsupported.end(), p.begin(), p.end());
        unsupported.push_back(0);
    }
    if (!unsupported.empty()) unsupported.push_back(0);

    std::vector<std::uint8_t>& b = *out;
    b.assign(kHeaderBytes, 0);
    // The names and the list sit where 16-bit offsets reach them.
    auto place = [&](const std::vector<std::uint8_t>& text, std::size_t field, const char* what) {
        std::size_t at = b.size();
        if (at + text.size() > 0xFFFF) return Fail(error, std::string(what) + " does not fit in the first 64 KiB of the installation data");
        PutU16(&b, field, text.empty() ? 0 : static_cast<std::uint32_t>(at));
        PutU16(&b, field + 2, static_cast<std::uint32_t>(text.size()));
        b.insert(b.end(), text.begin(), text.end());
        return true;
    };
    if (!place(Text(in.appName), 84, "the application name") || !place(Text(in.provider), 88, "the provider") ||
        !place(unsupported, 92, "the list of unsupported platforms"))
        return false;
    for (int i = 0; i < kSectionCount; ++i) {
        PutU16(&b, 48 + 2 * i, static_cast<std::uint32_t>(s.counts[i]));
        PutU32(&b, 60 + 4 * i, static_cast<std::uint32_t>(b.size()));
        b.insert(b.end(), s.bytes[i].begin(), s.bytes[i].end());
    }
    if (b.size() > 0xFFFFFFFFull) return Fail(error, "the installation data would be larger than 4 GiB");
    PutU32(&b, 0, kSignature);
    PutU32(&b, 8, static_cast<std::uint32_t>(b.size()));
    PutU32(&b, 16, 1);
    PutU32(&b, 20, in.processor);
    const std::uint32_t limits[] = {in.minMajor, in.minMinor, in.maxMajor, in.maxMinor, in.minBuild, in.maxBuild};
    for (int i = 0; i < 6; ++i) PutU32(&b, 24 + 4 * i, limits[i]);
    return true;
}

bool ReadInstallData(const std::vector<std::uint8_t>& bytes, CeInstall* out, std::string* error) {
    *out = CeInstall();
    if (bytes.size() < kHeaderBytes) return Fail(error, "the installation data has " + std::to_string(bytes.size()) + " bytes, fewer than its 100-byte header");
    if (GetU32(bytes, 0) != kSignature) return Fail(error, "the installation data does not start with MSCE");
    Reader r{bytes, GetU32(bytes, 8), error, {}};
    if (r.size > bytes.size() || r.size < kHeaderBytes)
        return Fail(error, "the installation data says it is " + std::to_string(r.size) + " bytes, but it has " + std::to_string(bytes.size()));
    out->processor = GetU32(bytes, 20);
    std::uint32_t* limits[] = {&out->minMajor, &out->minMinor, &out->maxMajor, &out->maxMinor, &out->minBuild, &out->maxBuild};
    for (int i = 0; i < 6; ++i) *limits[i] = GetU32(bytes, 24 + 4 * i);
    return ReadNames(r, out) && ReadSections(r, out);
}

std::string JoinCePath(const std::vector<std::string>& pieces) {
    std::string path;
    for (std::size_t i = 0; i < pieces.size(); ++i) path += (i ? "\\" : "") + pieces[i];
    return path;
}

std::string CeRootName(std::uint16_t root) {
    switch (root) {
        case kCeRootClassesRoot: return "HKEY_CLASSES_ROOT";
        case kCeRootCurrentUser: return "HKEY_CURRENT_USER";
        case kCeRootLocalMachine: return "HKEY_LOCAL_MACHINE";
        case kCeRootUsers: return "HKEY_USERS";
        default: return "root " + std::to_string(root);
    }
}

std::string CeFolderMeaning(const std::string& macro) {
    static const std::pair<const char*, const char*> kFolders[] = {
        {"%CE1%", "\\Program Files"},  {"%CE2%", "\\Windows"},
        {"%CE4%", "\\Windows\\StartUp"}, {"%CE5%", "\\My Documents"},
        {"%CE8%", "\\Program Files\\Games"}, {"%CE11%", "\\Windows\\Start Menu\\Programs"},
        {"%CE14%", "\\Windows\\Start Menu\\Programs\\Games"},
        {"%CE15%", "\\Windows\\Fonts"}, {"%CE17%", "\\Windows\\Start Menu"},
    };
    for (const auto& f : kFolders)
        if (macro == f.first) return f.second;
    return std::string();
}

std::string CeDevicePath(const std::vector<std::string>& path, const std::string& appName) {
    if (path.empty()) return std::string();
    std::string first = path[0] == "%InstallDir%" ? "\\Program Files\\" + appName : CeFolderMeaning(path[0]);
    if (first.empty()) return std::string();
    std::vector<std::string> rest(path.begin() + 1, path.end());
    return rest.empty() ? first : first + "\\" + JoinCePath(rest);
}

}  // namespace kelpack
