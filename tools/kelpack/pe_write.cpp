#include "pe_write.h"

#include <algorithm>
#include <map>

#include "byteio.h"

namespace kelpack {

namespace {

constexpr std::uint32_t kScnInitializedData = 0x00000040;
constexpr std::uint32_t kScnMemRead = 0x40000000;

// Grouping of the sorted leaves by type and then by name.
struct NameGroup {
    ResId name;
    std::vector<const Resource*> leaves;  // one per language
};
struct TypeGroup {
    ResId type;
    std::vector<NameGroup> names;
};

std::uint32_t entry_key(const ResId& id, const std::map<std::u16string, std::uint32_t>& strings) {
    return id.is_name ? (0x80000000u | strings.at(id.name)) : id.id;
}

void append_dir_header(std::vector<std::uint8_t>* b, const std::vector<ResId>& keys) {
    std::uint32_t named = 0;
    for (const ResId& k : keys) named += k.is_name ? 1 : 0;
    append_u32(b, 0);  // characteristics
    append_u32(b, 0);  // time stamp: left 0 so that the same input gives the same output
    append_u16(b, 0);  // major version
    append_u16(b, 0);  // minor version
    append_u16(b, named);
    append_u16(b, static_cast<std::uint32_t>(keys.size()) - named);
}

std::uint32_t span_of(const PeSection& s) { return s.virtual_size != 0 ? s.virtual_size : s.raw_size; }

void write_section_header(std::vector<std::uint8_t>* b, std::size_t at, const PeSection& s) {
    for (int k = 0; k < 8; ++k) (*b)[at + k] = k < static_cast<int>(s.name.size()) ? static_cast<std::uint8_t>(s.name[k]) : 0;
    put_u32(b, at + 8, s.virtual_size);
    put_u32(b, at + 12, s.virtual_address);
    put_u32(b, at + 16, s.raw_size);
    put_u32(b, at + 20, s.raw_offset);
    put_u32(b, at + 24, 0);
    put_u32(b, at + 28, 0);
    put_u16(b, at + 32, 0);
    put_u16(b, at + 34, 0);
    put_u32(b, at + 36, s.characteristics);
}

}  // namespace

std::vector<std::uint8_t> build_resource_section(ResourceList list, std::uint32_t rva) {
    sort_resources(&list);
    std::vector<TypeGroup> types;
    for (const Resource& r : list) {
        if (types.empty() || !res_id_matches(types.back().type, r.type)) types.push_back({r.type, {}});
        auto& names = types.back().names;
        if (names.empty() || !res_id_matches(names.back().name, r.name)) names.push_back({r.name, {}});
        names.back().leaves.push_back(&r);
    }
    // Sizes of the directory area: root, then every type directory, then
    // every name directory, in the order they are written.
    std::size_t dir_bytes = 16 + 8 * types.size();
    for (const TypeGroup& t : types) {
        dir_bytes += 16 + 8 * t.names.size();
        for (const NameGroup& n : t.names) dir_bytes += 16 + 8 * n.leaves.size();
    }
    std::size_t data_entries_at = dir_bytes;
    std::size_t strings_at = data_entries_at + 16 * list.size();
    std::map<std::u16string, std::uint32_t> strings;  // each name once
    std::size_t strings_end = strings_at;
    auto add_string = [&](const ResId& id) {
        if (!id.is_name || strings.count(id.name)) return;
        strings[id.name] = static_cast<std::uint32_t>(strings_end);
        strings_end += 2 + 2 * id.name.size();
    };
    for (const TypeGroup& t : types) {
        add_string(t.type);
        for (const NameGroup& n : t.names) add_string(n.name);
    }
    std::size_t data_at = align_up(strings_end, 8);

    std::vector<std::uint8_t> b;
    b.reserve(data_at);
    // Root directory.
    std::vector<ResId> keys;
    for (const TypeGroup& t : types) keys.push_back(t.type);
    append_dir_header(&b, keys);
    std::size_t next_dir = 16 + 8 * types.size();
    std::vector<std::size_t> type_dir_at;
    for (const TypeGroup& t : types) {
        type_dir_at.push_back(next_dir);
        append_u32(&b, entry_key(t.type, strings));
        append_u32(&b, 0x80000000u | static_cast<std::uint32_t>(next_dir));
        next_dir += 16 + 8 * t.names.size();
    }
    // Type directories, each listing its names.
    for (const TypeGroup& t : types) {
        keys.clear();
        for (const NameGroup& n : t.names) keys.push_back(n.name);
        append_dir_header(&b, keys);
        for (const NameGroup& n : t.names) {
            append_u32(&b, entry_key(n.name, strings));
            append_u32(&b, 0x80000000u | static_cast<std::uint32_t>(next_dir));
            next_dir += 16 + 8 * n.leaves.size();
        }
    }
    // Name directories, each listing its languages and pointing at data entries.
    std::size_t next_entry = data_entries_at;
    for (const TypeGroup& t : types) {
        for (const NameGroup& n : t.names) {
            keys.assign(n.leaves.size(), ResId());
            append_dir_header(&b, keys);
            for (const Resource* leaf : n.leaves) {
                append_u32(&b, leaf->lang);
                append_u32(&b, static_cast<std::uint32_t>(next_entry));
                next_entry += 16;
            }
        }
    }
    // Data entries, in the same order as the leaves.
    std::size_t next_data = data_at;
    for (const TypeGroup& t : types) {
        for (const NameGroup& n : t.names) {
            for (const Resource* leaf : n.leaves) {
                append_u32(&b, rva + static_cast<std::uint32_t>(next_data));
                append_u32(&b, static_cast<std::uint32_t>(leaf->data.size()));
                append_u32(&b, leaf->codepage);
                append_u32(&b, 0);
                next_data = align_up(next_data + leaf->data.size(), 8);
            }
        }
    }
    // Names as a 16-bit count and UTF-16 units, in offset order.
    std::vector<std::pair<std::uint32_t, const std::u16string*>> by_offset;
    for (const auto& s : strings) by_offset.push_back({s.second, &s.first});
    std::sort(by_offset.begin(), by_offset.end());
    for (const auto& s : by_offset) {
        append_u16(&b, static_cast<std::uint32_t>(s.second->size()));
        for (char16_t c : *s.second) append_u16(&b, c);
    }
    b.resize(data_at, 0);
    for (const TypeGroup& t : types) {
        for (const NameGroup& n : t.names) {
            for (const Resource* leaf : n.leaves) {
                b.insert(b.end(), leaf->data.begin(), leaf->data.end());
                b.resize(align_up(b.size(), 8), 0);
            }
        }
    }
    return b;
}

bool write_resources(const PeImage& image, const ResourceList& list, std::vector<std::uint8_t>* out,
                     RsrcPlacement* placement, std::vector<std::string>* warnings, std::string* error) {
    if (image.dirs.size() <= kDirResource) {
        *error = "the image has no data directory entry for resources";
        return false;
    }
    std::vector<std::uint8_t> b = image.bytes;
    std::vector<PeSection> sections = image.sections;
    std::uint32_t symbols = image.symbol_table_offset;
    const std::size_t opt = image.optional_offset;

    std::uint64_t raw_end = 0;  // end of the last section's file data
    for (const PeSection& s : sections)
        if (s.raw_size != 0) raw_end = std::max<std::uint64_t>(raw_end, static_cast<std::uint64_t>(s.raw_offset) + s.raw_size);

    // A signature covers the bytes we are about to change; it cannot survive.
    if (image.dirs.size() > kDirSecurity && image.dirs[kDirSecurity].size != 0) {
        const PeDataDir& cert = image.dirs[kDirSecurity];
        warnings->push_back("the input is signed; the output carries no signature (sign it again after packing)");
        if (cert.address >= raw_end && in_bounds(b.size(), cert.address, cert.size) &&
            static_cast<std::uint64_t>(cert.address) + cert.size == b.size())
            b.resize(cert.address);
        put_u32(&b, image.dir_offset + 8 * kDirSecurity, 0);
        put_u32(&b, image.dir_offset + 8 * kDirSecurity + 4, 0);
    }

    // The section that holds the current directory, when it starts there and
    // so holds nothing but resources.
    int old = -1;
    const PeDataDir& rdir = image.dirs[kDirResource];
    if (rdir.address != 0) {
        int i = section_of_rva(image, rdir.address);
        if (i >= 0 && sections[i].virtual_address == rdir.address) old = i;
    }
    int last_va = 0;
    for (std::size_t i = 1; i < sections.size(); ++i)
        if (sections[i].virtual_address > sections[last_va].virtual_address) last_va = static_cast<int>(i);

    std::vector<std::uint8_t> rsrc;
    std::int64_t init_delta = 0;
    std::uint32_t new_rva = 0;
    if (list.empty()) {
        *placement = RsrcPlacement::kNone;
    } else if (old >= 0 && old == last_va &&
               (sections[old].raw_size == 0 || static_cast<std::uint64_t>(sections[old].raw_offset) + sections[old].raw_size == raw_end)) {
        // Last in memory and in the file: rewrite it at its place and move
        // whatever trails it (symbols, other overlay) behind the new data.
        PeSection& s = sections[old];
        new_rva = s.virtual_address;
        rsrc = build_resource_section(list, new_rva);
        std::uint64_t start = s.raw_size != 0 ? s.raw_offset : align_up(std::max<std::uint64_t>(b.size(), raw_end), image.file_alignment);
        std::uint64_t old_end = s.raw_size != 0 ? start + s.raw_size : start;
        std::vector<std::uint8_t> tail;
        if (old_end < b.size()) tail.assign(b.begin() + old_end, b.end());
        std::uint32_t new_raw = static_cast<std::uint32_t>(align_up(rsrc.size(), image.file_alignment));
        b.resize(start, 0);
        b.insert(b.end(), rsrc.begin(), rsrc.end());
        b.resize(start + new_raw, 0);
        b.insert(b.end(), tail.begin(), tail.end());
        if (symbols != 0 && symbols >= old_end) symbols = static_cast<std::uint32_t>(symbols + (start + new_raw) - old_end);
        init_delta = static_cast<std::int64_t>(new_raw) - s.raw_size;
        s.raw_offset = static_cast<std::uint32_t>(start);
        s.raw_size = new_raw;
        s.virtual_size = static_cast<std::uint32_t>(rsrc.size());
        *placement = RsrcPlacement::kReplacedLast;
    } else {
        bool reused = false;
        if (old >= 0) {
            // Rewriting in place keeps the image from growing, when the new
            // tree fits in the old file data and below the next section.
            PeSection& s = sections[old];
            rsrc = build_resource_section(list, s.virtual_address);
            std::uint64_t room = s.raw_size;
            for (const PeSection& o : sections)
                if (o.virtual_address > s.virtual_address) room = std::min<std::uint64_t>(room, o.virtual_address - s.virtual_address);
            if (rsrc.size() <= room) {
                std::copy(rsrc.begin(), rsrc.end(), b.begin() + s.raw_offset);
                std::fill(b.begin() + s.raw_offset + rsrc.size(), b.begin() + s.raw_offset + s.raw_size, 0);
                s.virtual_size = static_cast<std::uint32_t>(rsrc.size());
                new_rva = s.virtual_address;
                reused = true;
                *placement = RsrcPlacement::kReusedInPlace;
            }
        }
        if (!reused) {
            // A new last section. Its header goes right after the table, which
            // needs 40 free bytes before the first section's data.
            std::uint64_t slot = image.section_table_offset + 40ull * sections.size();
            std::uint64_t first_raw = image.size_of_headers;
            for (const PeSection& s : sections)
                if (s.raw_size != 0) first_raw = std::min<std::uint64_t>(first_raw, s.raw_offset);
            bool free = slot + 40 <= first_raw && sections.size() < 96;
            for (std::uint64_t k = slot; free && k < slot + 40; ++k) free = b[k] == 0;
            if (!free) {
                *error = "the headers have no free room for another section header, and the old resource section is too small";
                return false;
            }
            const PeSection& last = sections[last_va];
            new_rva = static_cast<std::uint32_t>(
                align_up(static_cast<std::uint64_t>(last.virtual_address) + std::max(span_of(last), last.raw_size), image.section_alignment));
            rsrc = build_resource_section(list, new_rva);
            std::uint64_t start = align_up(std::max<std::uint64_t>(b.size(), raw_end), image.file_alignment);
            std::uint32_t new_raw = static_cast<std::uint32_t>(align_up(rsrc.size(), image.file_alignment));
            if (start + new_raw > 0xFFFFFFFFull) {
                *error = "the file would pass 4 GiB";
                return false;
            }
            b.resize(start, 0);
            b.insert(b.end(), rsrc.begin(), rsrc.end());
            b.resize(start + new_raw, 0);
            PeSection s;
            s.name = ".rsrc";
            s.virtual_address = new_rva;
            s.virtual_size = static_cast<std::uint32_t>(rsrc.size());
            s.raw_offset = static_cast<std::uint32_t>(start);
            s.raw_size = new_raw;
            s.characteristics = kScnInitializedData | kScnMemRead;
            sections.push_back(s);
            init_delta = new_raw;
            put_u16(&b, image.pe_offset + 6, static_cast<std::uint32_t>(sections.size()));
            *placement = RsrcPlacement::kAppended;
        }
    }

    // SizeOfImage, the end of the last section rounded up to a page, must
    // itself fit in 32 bits, whichever section grew.
    std::uint64_t image_end = image.size_of_headers;
    for (const PeSection& s : sections)
        image_end = std::max<std::uint64_t>(image_end, static_cast<std::uint64_t>(s.virtual_address) + std::max(span_of(s), 1u));
    image_end = align_up(image_end, image.section_alignment);
    if (image_end > 0xFFFFFFFFull) {
        *error = "the image would pass 4 GiB of address space";
        return false;
    }

    // The loader maps SizeOfHeaders bytes from the start of the file, and an
    // image may claim headers that reach over section data or a signature.
    // Rewriting a last section smaller or dropping a signature cuts the file,
    // but never short of those headers.
    if (b.size() < image.size_of_headers) b.resize(image.size_of_headers, 0);

    for (std::size_t i = 0; i < sections.size(); ++i) write_section_header(&b, image.section_table_offset + 40 * i, sections[i]);
    put_u32(&b, image.pe_offset + 12, symbols);
    put_u32(&b, image.dir_offset + 8 * kDirResource, list.empty() ? 0 : new_rva);
    put_u32(&b, image.dir_offset + 8 * kDirResource + 4, static_cast<std::uint32_t>(rsrc.size()));
    std::int64_t init = static_cast<std::int64_t>(get_u32(b, opt + 8)) + init_delta;
    put_u32(&b, opt + 8, static_cast<std::uint32_t>(std::max<std::int64_t>(init, 0)));
    put_u32(&b, opt + 56, static_cast<std::uint32_t>(image_end));
    put_u32(&b, checksum_offset(image), pe_checksum(b, checksum_offset(image)));
    *out = std::move(b);
    return true;
}

bool check_written_image(const std::vector<std::uint8_t>& bytes, ResourceList written, std::string* error) {
    PeImage image;
    ResourceList read;
    if (!parse_pe(bytes, &image, error) || !read_resources(image, &read, error)) return false;
    sort_resources(&written);
    sort_resources(&read);
    if (read.size() != written.size()) {
        *error = std::to_string(read.size()) + " resources read back where " + std::to_string(written.size()) + " were written";
        return false;
    }
    for (std::size_t i = 0; i < written.size(); ++i) {
        const Resource& w = written[i];
        const Resource& r = read[i];
        bool same = w.type.is_name == r.type.is_name && res_id_matches(w.type, r.type) && w.name.is_name == r.name.is_name &&
                    res_id_matches(w.name, r.name) && w.lang == r.lang && w.codepage == r.codepage && w.data == r.data;
        if (!same) {
            *error = "resource " + res_id_text(w.type, true) + "/" + res_id_text(w.name, false) + " language " +
                     std::to_string(w.lang) + " reads back otherwise than it was written";
            return false;
        }
    }
    if (image.checksum != pe_checksum(bytes, checksum_offset(image))) {
        *error = "the checksum in the headers is not the one the loader computes";
        return false;
    }
    return true;
}

}  // namespace kelpack
