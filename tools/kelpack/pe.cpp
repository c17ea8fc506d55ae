#include "pe.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "byteio.h"

namespace kelpack {

namespace {

std::string hex(std::uint64_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

bool fail(std::string* error, const std::string& why) {
    *error = why;
    return false;
}

bool is_power_of_two(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// The virtual extent of a section: VirtualSize, or the raw size when a linker
// left VirtualSize at 0 (older tools did).
std::uint32_t virtual_span(const PeSection& s) { return s.virtual_size != 0 ? s.virtual_size : s.raw_size; }

std::string section_label(const PeSection& s, std::size_t index) {
    return "section " + std::to_string(index + 1) + " (\"" + s.name + "\")";
}

// Walks the three-level resource tree. `base` is the file offset of the root
// directory and `limit` the bytes of the section's raw data from there on;
// every offset inside the tree is relative to `base`.
struct TreeWalk {
    const PeImage* image;
    std::uint64_t base;
    std::uint64_t limit;
    std::set<std::uint32_t> seen_dirs;  // a directory reached twice means a loop or a shared subtree
    std::uint64_t data_total = 0;
    ResourceList* out;
    std::string* error;
};

bool read_dir_string(TreeWalk* w, std::uint32_t rel, std::u16string* s) {
    std::uint64_t off = w->base + rel;
    if (!in_bounds(w->limit, rel, 2)) return fail(w->error, "resource name at " + hex(rel) + " lies outside the resource section");
    std::uint16_t len = get_u16(w->image->bytes, off);
    if (!in_bounds(w->limit, rel + 2ull, 2ull * len))
        return fail(w->error, "resource name at " + hex(rel) + " runs past the resource section");
    s->clear();
    for (std::uint32_t i = 0; i < len; ++i) s->push_back(static_cast<char16_t>(get_u16(w->image->bytes, off + 2 + 2ull * i)));
    return true;
}

bool walk_dir(TreeWalk* w, std::uint32_t rel, int depth, const ResId& type, const ResId& name) {
    static const char* level[] = {"type", "name", "language"};
    if (!w->seen_dirs.insert(rel).second)
        return fail(w->error, "resource directory at " + hex(rel) + " is reached twice (a loop or a shared subtree)");
    if (!in_bounds(w->limit, rel, 16))
        return fail(w->error, std::string("resource ") + level[depth] + " directory at " + hex(rel) + " lies outside the resource section");
    const auto& b = w->image->bytes;
    std::uint64_t off = w->base + rel;
    std::uint32_t named = get_u16(b, off + 12), ids = get_u16(b, off + 14);
    std::uint64_t count = named + ids;
    if (!in_bounds(w->limit, rel + 16ull, 8 * count))
        return fail(w->error, std::string("resource ") + level[depth] + " directory at " + hex(rel) + " has more entries than fit in the section");
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint32_t key = get_u32(b, off + 16 + 8 * i);
        std::uint32_t target = get_u32(b, off + 20 + 8 * i);
        ResId id;
        if (key & 0x80000000u) {
            id.is_name = true;
            if (!read_dir_string(w, key & 0x7FFFFFFFu, &id.name)) return false;
        } else {
            id.id = key;
        }
        bool is_dir = (target & 0x80000000u) != 0;
        std::uint32_t where = target & 0x7FFFFFFFu;
        if (depth < 2) {
            if (!is_dir)
                return fail(w->error, std::string("resource ") + level[depth] + " entry " + res_id_text(id, depth == 0) +
                                          " points at data where a directory belongs");
            if (depth == 0 && !walk_dir(w, where, 1, id, ResId())) return false;
            if (depth == 1 && !walk_dir(w, where, 2, type, id)) return false;
            continue;
        }
        if (is_dir)
            return fail(w->error, "resource " + res_id_text(type, true) + "/" + res_id_text(name, false) +
                                      " has a fourth directory level");
        if (id.is_name)
            return fail(w->error, "resource " + res_id_text(type, true) + "/" + res_id_text(name, false) +
                                      " has a language given as a string");
        if (!in_bounds(w->limit, where, 16))
            return fail(w->error, "resource data entry at " + hex(where) + " lies outside the resource section");
        std::uint32_t data_rva = get_u32(b, w->base + where);
        std::uint32_t data_size = get_u32(b, w->base + where + 4);
        std::uint32_t data_off = 0;
        std::string what = "resource " + res_id_text(type, true) + "/" + res_id_text(name, false);
        if (data_size != 0 && !rva_to_offset(*w->image, data_rva, data_size, &data_off))
            return fail(w->error, what + ": its " + std::to_string(data_size) + " bytes at RVA " + hex(data_rva) +
                                      " do not lie inside the file");
        // Entries may share data; the cap keeps a crafted file from making us
        // copy the same bytes without end.
        w->data_total += data_size;
        if (w->data_total > 2ull * b.size() + 65536)
            return fail(w->error, "resource data adds up to more than the file holds (entries share data)");
        Resource r;
        r.type = type;
        r.name = name;
        r.lang = id.id;
        r.codepage = get_u32(b, w->base + where + 8);
        r.data.assign(b.begin() + data_off, b.begin() + data_off + data_size);
        w->out->push_back(std::move(r));
    }
    return true;
}

}  // namespace

std::string machine_name(std::uint16_t machine) {
    switch (machine) {
        case 0x14c: return "x86";
        case 0x8664: return "x64";
        case 0x1c0: return "ARM";
        case 0x1c2: return "ARM Thumb";
        case 0x1c4: return "ARMv7 Thumb-2";
        case 0xaa64: return "ARM64";
        case 0x1a2: return "SH3";
        case 0x1a6: return "SH4";
        case 0x166: return "MIPS";
        default: return "machine " + hex(machine);
    }
}

bool parse_pe(std::vector<std::uint8_t> bytes, PeImage* image, std::string* error) {
    *image = PeImage();
    image->bytes = std::move(bytes);
    const auto& b = image->bytes;
    if (b.size() < 64) return fail(error, "not a PE image: " + std::to_string(b.size()) + " bytes, shorter than a DOS header");
    if (b[0] != 'M' || b[1] != 'Z') return fail(error, "not a PE image: no MZ signature");
    std::uint32_t pe = get_u32(b, 0x3c);
    if (!in_bounds(b.size(), pe, 4)) return fail(error, "truncated: the PE header offset " + hex(pe) + " lies past the end of the file");
    if (b[pe] != 'P' || b[pe + 1] != 'E' || b[pe + 2] != 0 || b[pe + 3] != 0)
        return fail(error, "not a PE image: no PE signature at " + hex(pe));
    std::uint64_t coff = pe + 4ull;
    if (!in_bounds(b.size(), coff, 20)) return fail(error, "truncated inside the COFF file header");
    image->pe_offset = pe;
    image->machine = get_u16(b, coff);
    std::uint32_t nsections = get_u16(b, coff + 2);
    image->symbol_table_offset = get_u32(b, coff + 8);
    image->optional_size = get_u16(b, coff + 16);
    std::uint64_t opt = coff + 20;
    image->optional_offset = static_cast<std::uint32_t>(opt);
    if (image->optional_size < 2) return fail(error, "not an executable image: no optional header");
    if (!in_bounds(b.size(), opt, image->optional_size)) return fail(error, "truncated inside the optional header");
    std::uint16_t magic = get_u16(b, opt);
    if (magic != 0x10b && magic != 0x20b) return fail(error, "unknown optional header magic " + hex(magic));
    image->pe32plus = magic == 0x20b;
    std::uint32_t fixed = image->pe32plus ? 112 : 96;  // bytes before the data directories
    if (image->optional_size < fixed)
        return fail(error, "optional header of " + std::to_string(image->optional_size) + " bytes is too small for a " +
                               (image->pe32plus ? "PE32+" : "PE32") + " image");
    image->section_alignment = get_u32(b, opt + 32);
    image->file_alignment = get_u32(b, opt + 36);
    image->size_of_image = get_u32(b, opt + 56);
    image->size_of_headers = get_u32(b, opt + 60);
    image->checksum = get_u32(b, opt + 64);
    std::uint32_t ndirs = get_u32(b, opt + fixed - 4);
    // Loaders look at 16 entries at most; anything beyond is not a directory.
    image->dir_count = std::min<std::uint32_t>(ndirs, 16);
    image->dir_offset = static_cast<std::uint32_t>(opt + fixed);
    if (fixed + 8ull * image->dir_count > image->optional_size)
        return fail(error, "optional header is too small for its " + std::to_string(image->dir_count) + " data directories");
    for (std::uint32_t i = 0; i < image->dir_count; ++i) {
        PeDataDir d;
        d.address = get_u32(b, image->dir_offset + 8 * i);
        d.size = get_u32(b, image->dir_offset + 8 * i + 4);
        image->dirs.push_back(d);
    }
    if (!is_power_of_two(image->file_alignment)) return fail(error, "bad FileAlignment " + hex(image->file_alignment));
    if (!is_power_of_two(image->section_alignment) || image->section_alignment < image->file_alignment)
        return fail(error, "bad SectionAlignment " + hex(image->section_alignment));
    if (image->size_of_headers > b.size()) return fail(error, "truncated: the headers claim " + std::to_string(image->size_of_headers) +
                                                                   " bytes, the file has " + std::to_string(b.size()));
    if (nsections == 0) return fail(error, "the image has no sections");
    if (nsections > 96) return fail(error, "the image claims " + std::to_string(nsections) + " sections; at most 96 are allowed");
    std::uint64_t table = opt + image->optional_size;
    image->section_table_offset = static_cast<std::uint32_t>(table);
    if (!in_bounds(b.size(), table, 40ull * nsections)) return fail(error, "truncated inside the section table");
    std::uint64_t table_end = table + 40ull * nsections;
    for (std::uint32_t i = 0; i < nsections; ++i) {
        std::uint64_t h = table + 40ull * i;
        PeSection s;
        for (int k = 0; k < 8 && b[h + k] != 0; ++k) s.name += static_cast<char>(b[h + k]);
        s.virtual_size = get_u32(b, h + 8);
        s.virtual_address = get_u32(b, h + 12);
        s.raw_size = get_u32(b, h + 16);
        s.raw_offset = get_u32(b, h + 20);
        s.characteristics = get_u32(b, h + 36);
        std::string label = section_label(s, i);
        if (s.raw_size != 0) {
            if (!in_bounds(b.size(), s.raw_offset, s.raw_size))
                return fail(error, "truncated: " + label + " has raw data at " + hex(s.raw_offset) + " of " + hex(s.raw_size) +
                                       " bytes, past the end of the file (" + std::to_string(b.size()) + " bytes)");
            if (s.raw_offset < table_end) return fail(error, label + " has raw data at " + hex(s.raw_offset) + " inside the headers");
        }
        if (static_cast<std::uint64_t>(s.virtual_address) + virtual_span(s) > 0xFFFFFFFFull)
            return fail(error, label + " reaches past the 4 GiB address space");
        if (s.virtual_address < image->size_of_headers)
            return fail(error, label + " starts at RVA " + hex(s.virtual_address) + ", inside the headers");
        image->sections.push_back(s);
    }
    // The loader maps sections in table order at ascending addresses.
    for (std::size_t i = 1; i < image->sections.size(); ++i) {
        const PeSection& p = image->sections[i - 1];
        const PeSection& s = image->sections[i];
        if (static_cast<std::uint64_t>(p.virtual_address) + virtual_span(p) > s.virtual_address)
            return fail(error, "sections overlap in memory: " + section_label(p, i - 1) + " and " + section_label(s, i));
    }
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < image->sections.size(); ++i)
        if (image->sections[i].raw_size != 0) order.push_back(i);
    std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        return image->sections[x].raw_offset < image->sections[y].raw_offset;
    });
    for (std::size_t k = 1; k < order.size(); ++k) {
        const PeSection& p = image->sections[order[k - 1]];
        const PeSection& s = image->sections[order[k]];
        if (static_cast<std::uint64_t>(p.raw_offset) + p.raw_size > s.raw_offset)
            return fail(error, "sections overlap in the file: " + section_label(p, order[k - 1]) + " and " + section_label(s, order[k]));
    }
    return true;
}

int section_of_rva(const PeImage& image, std::uint32_t rva) {
    for (std::size_t i = 0; i < image.sections.size(); ++i) {
        const PeSection& s = image.sections[i];
        std::uint64_t span = std::max(virtual_span(s), s.raw_size);
        if (rva >= s.virtual_address && rva - static_cast<std::uint64_t>(s.virtual_address) < span) return static_cast<int>(i);
    }
    return -1;
}

bool rva_to_offset(const PeImage& image, std::uint32_t rva, std::uint32_t size, std::uint32_t* offset) {
    int i = section_of_rva(image, rva);
    if (i < 0) return false;
    const PeSection& s = image.sections[i];
    std::uint64_t within = rva - static_cast<std::uint64_t>(s.virtual_address);
    if (!in_bounds(s.raw_size, within, size)) return false;
    *offset = static_cast<std::uint32_t>(s.raw_offset + within);
    return true;
}

bool read_resources(const PeImage& image, ResourceList* list, std::string* error) {
    list->clear();
    if (image.dirs.size() <= kDirResource || image.dirs[kDirResource].address == 0) return true;
    std::uint32_t rva = image.dirs[kDirResource].address;
    int si = section_of_rva(image, rva);
    if (si < 0) return fail(error, "the resource directory's RVA " + hex(rva) + " lies in no section");
    const PeSection& s = image.sections[si];
    std::uint64_t within = rva - static_cast<std::uint64_t>(s.virtual_address);
    if (within >= s.raw_size) return fail(error, "the resource directory at RVA " + hex(rva) + " lies outside its section's file data");
    TreeWalk w;
    w.image = &image;
    w.base = s.raw_offset + within;
    w.limit = s.raw_size - within;
    w.out = list;
    w.error = error;
    if (!walk_dir(&w, 0, 0, ResId(), ResId())) {
        list->clear();
        return false;
    }
    return true;
}

std::uint32_t pe_checksum(const std::vector<std::uint8_t>& bytes, std::uint32_t checksum_offset) {
    // The field counts as zero wherever it sits, even at an odd offset.
    auto at = [&](std::size_t i) -> std::uint32_t {
        if (i >= bytes.size() || (i >= checksum_offset && i - checksum_offset < 4)) return 0;
        return bytes[i];
    };
    std::uint64_t sum = 0;
    std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n; i += 2) {
        sum += at(i) | (at(i + 1) << 8);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + n);
}

}  // namespace kelpack
