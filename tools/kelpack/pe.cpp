#include "pe.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "byteio.h"
#include "fileio.h"

namespace kelpack {

namespace {

std::string Hex(std::uint64_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}


bool IsPowerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// The virtual extent of a section: VirtualSize, or the raw size when a linker
// left VirtualSize at 0 (older tools did).
std::uint32_t VirtualSpan(const PeSection& s) { return s.virtualSize != 0 ? s.virtualSize : s.rawSize; }

std::string SectionLabel(const PeSection& s, std::size_t index) {
    return "section " + std::to_string(index + 1) + " (\"" + s.name + "\")";
}

// Walks the three-level resource tree. `base` is the file offset of the root
// directory and `limit` the bytes of the section's raw data from there on;
// every offset inside the tree is relative to `base`.
struct TreeWalk {
    const PeImage* image;
    std::uint64_t base;
    std::uint64_t limit;
    std::set<std::uint32_t> seenDirs;  // a directory reached twice means a loop or a shared subtree
    std::uint64_t dataTotal = 0;
    ResourceList* out;
    std::string* error;
};

bool ReadDirString(TreeWalk* w, std::uint32_t rel, std::u16string* s) {
    std::uint64_t off = w->base + rel;
    if (!InBounds(w->limit, rel, 2)) return Fail(w->error, "resource name at " + Hex(rel) + " lies outside the resource section");
    std::uint16_t len = GetU16(w->image->bytes, off);
    if (!InBounds(w->limit, rel + 2ull, 2ull * len))
        return Fail(w->error, "resource name at " + Hex(rel) + " runs past the resource section");
    s->clear();
    for (std::uint32_t i = 0; i < len; ++i) s->push_back(static_cast<char16_t>(GetU16(w->image->bytes, off + 2 + 2ull * i)));
    return true;
}

bool WalkDir(TreeWalk* w, std::uint32_t rel, int depth, const ResId& type, const ResId& name) {
    static const char* level[] = {"type", "name", "language"};
    if (!w->seenDirs.insert(rel).second)
        return Fail(w->error, "resource directory at " + Hex(rel) + " is reached twice (a loop or a shared subtree)");
    if (!InBounds(w->limit, rel, 16))
        return Fail(w->error, std::string("resource ") + level[depth] + " directory at " + Hex(rel) + " lies outside the resource section");
    const auto& b = w->image->bytes;
    std::uint64_t off = w->base + rel;
    std::uint32_t named = GetU16(b, off + 12), ids = GetU16(b, off + 14);
    std::uint64_t count = named + ids;
    if (!InBounds(w->limit, rel + 16ull, 8 * count))
        return Fail(w->error, std::string("resource ") + level[depth] + " directory at " + Hex(rel) + " has more entries than fit in the section");
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint32_t key = GetU32(b, off + 16 + 8 * i);
        std::uint32_t target = GetU32(b, off + 20 + 8 * i);
        ResId id;
        if (key & 0x80000000u) {
            id.isName = true;
            if (!ReadDirString(w, key & 0x7FFFFFFFu, &id.name)) return false;
        } else {
            id.id = key;
        }
        bool isDir = (target & 0x80000000u) != 0;
        std::uint32_t where = target & 0x7FFFFFFFu;
        if (depth < 2) {
            if (!isDir)
                return Fail(w->error, std::string("resource ") + level[depth] + " entry " + ResIdText(id, depth == 0) +
                                          " points at data where a directory belongs");
            if (depth == 0 && !WalkDir(w, where, 1, id, ResId())) return false;
            if (depth == 1 && !WalkDir(w, where, 2, type, id)) return false;
            continue;
        }
        if (isDir)
            return Fail(w->error, "resource " + ResIdText(type, true) + "/" + ResIdText(name, false) +
                                      " has a fourth directory level");
        if (id.isName)
            return Fail(w->error, "resource " + ResIdText(type, true) + "/" + ResIdText(name, false) +
                                      " has a language given as a string");
        if (!InBounds(w->limit, where, 16))
            return Fail(w->error, "resource data entry at " + Hex(where) + " lies outside the resource section");
        std::uint32_t dataRva = GetU32(b, w->base + where);
        std::uint32_t dataSize = GetU32(b, w->base + where + 4);
        std::uint32_t dataOff = 0;
        std::string what = "resource " + ResIdText(type, true) + "/" + ResIdText(name, false);
        if (dataSize != 0 && !RvaToOffset(*w->image, dataRva, dataSize, &dataOff))
            return Fail(w->error, what + ": its " + std::to_string(dataSize) + " bytes at RVA " + Hex(dataRva) +
                                      " do not lie inside the file");
        // Entries may share data; the cap keeps a crafted file from making us
        // copy the same bytes without end.
        w->dataTotal += dataSize;
        if (w->dataTotal > 2ull * b.size() + 65536)
            return Fail(w->error, "resource data adds up to more than the file holds (entries share data)");
        Resource r;
        r.type = type;
        r.name = name;
        r.lang = id.id;
        r.codepage = GetU32(b, w->base + where + 8);
        r.source.external = true;
        r.source.offset = dataOff;
        r.source.size = dataSize;
        w->out->push_back(std::move(r));
    }
    return true;
}

}  // namespace

// The file a PeBytes reads, and the pages of it read so far.
struct PeBytes::File {
    explicit File(const std::string& path) : path(path), file(path) {}

    // `size` bytes at `offset` into `out`; false, keeping the reason without
    // the file's name, when they cannot be read. No read is tried after one
    // that failed.
    bool Read(std::uint64_t offset, std::size_t size, std::uint8_t* out) {
        if (!failure.empty()) return false;
        if (file.Read(offset, size, out, &failure)) return true;
        for (const std::string& said : {path + ": ", std::string("cannot read: ")})
            if (failure.compare(0, said.size(), said) == 0) failure.erase(0, said.size());
        if (failure.empty()) failure = "cannot read it";
        return false;
    }

    // 64 KiB pages: the headers and a resource directory are a page or two.
    // At most 64 are held (4 MiB); a damaged directory that points all over
    // the file is read again rather than held.
    static constexpr std::uint64_t kPage = 64 * 1024;
    static constexpr std::size_t kPagesHeld = 64;

    const std::vector<std::uint8_t>* Page(std::uint64_t number, std::uint64_t fileSize) {
        if (last != nullptr && lastNumber == number) return last;
        auto found = pages.find(number);
        if (found == pages.end()) {
            if (pages.size() >= kPagesHeld) pages.clear();
            std::vector<std::uint8_t> page(static_cast<std::size_t>(std::min(kPage, fileSize - number * kPage)));
            if (!Read(number * kPage, page.size(), page.data())) return nullptr;
            found = pages.emplace(number, std::move(page)).first;
        }
        lastNumber = number;
        return last = &found->second;
    }

    std::string path;
    ReadOnlyFile file;
    std::map<std::uint64_t, std::vector<std::uint8_t>> pages;
    const std::vector<std::uint8_t>* last = nullptr;
    std::uint64_t lastNumber = 0;
    std::string failure;  // why the first read that failed did
};

PeBytes::PeBytes(std::vector<std::uint8_t> whole) : whole_(std::move(whole)), size_(whole_.size()) {}

PeBytes::PeBytes(const std::string& path, std::uint64_t size) : file_(std::make_shared<File>(path)), size_(size) {}

std::uint8_t PeBytes::operator[](std::uint64_t at) const {
    if (at >= size_) return 0;
    if (!file_) return whole_[static_cast<std::size_t>(at)];
    const std::vector<std::uint8_t>* page = file_->Page(at / File::kPage, size_);
    return page != nullptr ? (*page)[static_cast<std::size_t>(at % File::kPage)] : 0;
}

bool PeBytes::Append(std::uint64_t offset, std::uint64_t count, std::vector<std::uint8_t>* out) const {
    if (!InBounds(size_, offset, count)) return false;
    if (!file_) {
        auto from = whole_.begin() + static_cast<std::ptrdiff_t>(offset);
        out->insert(out->end(), from, from + static_cast<std::ptrdiff_t>(count));
        return true;
    }
    std::size_t at = out->size();
    out->resize(at + static_cast<std::size_t>(count));
    if (file_->Read(offset, static_cast<std::size_t>(count), out->data() + at)) return true;
    out->resize(at);
    return false;
}

std::string PeBytes::failure() const { return file_ ? file_->failure : std::string(); }

std::string MachineName(std::uint16_t machine) {
    switch (machine) {
        case kMachineX86: return "x86";
        case kMachineX64: return "x64";
        case kMachineArm: return "ARM";
        case kMachineArmThumb: return "ARM Thumb";
        case 0x1c4: return "ARMv7 Thumb-2";
        case 0xaa64: return "ARM64";
        case 0x1a2: return "SH3";
        case 0x1a6: return "SH4";
        case 0x166: return "MIPS";
        default: return "machine " + Hex(machine);
    }
}

namespace {

// The DOS stub's pointer, the PE signature and the COFF file header;
// `nsections` gets the number of sections the header claims.
bool ParseFileHeader(PeImage* image, std::uint32_t* nsections, std::string* error) {
    const auto& b = image->bytes;
    if (b.size() < 64) return Fail(error, "not a PE image: " + std::to_string(b.size()) + " bytes, shorter than a DOS header");
    if (b[0] != 'M' || b[1] != 'Z') return Fail(error, "not a PE image: no MZ signature");
    std::uint32_t pe = GetU32(b, 0x3c);
    if (!InBounds(b.size(), pe, 4)) return Fail(error, "truncated: the PE header offset " + Hex(pe) + " lies past the end of the file");
    if (b[pe] != 'P' || b[pe + 1] != 'E' || b[pe + 2] != 0 || b[pe + 3] != 0)
        return Fail(error, "not a PE image: no PE signature at " + Hex(pe));
    std::uint64_t coff = pe + 4ull;
    if (!InBounds(b.size(), coff, 20)) return Fail(error, "truncated inside the COFF file header");
    image->peOffset = pe;
    image->machine = GetU16(b, coff);
    image->characteristics = GetU16(b, coff + 18);
    *nsections = GetU16(b, coff + 2);
    image->symbolTableOffset = GetU32(b, coff + 8);
    image->optionalSize = GetU16(b, coff + 16);
    return true;
}

// The optional header and its data directories.
bool ParseOptionalHeader(PeImage* image, std::string* error) {
    const auto& b = image->bytes;
    const std::uint64_t coff = image->peOffset + 4ull;
    std::uint64_t opt = coff + 20;
    image->optionalOffset = static_cast<std::uint32_t>(opt);
    if (image->optionalSize < 2) return Fail(error, "not an executable image: no optional header");
    if (!InBounds(b.size(), opt, image->optionalSize)) return Fail(error, "truncated inside the optional header");
    std::uint16_t magic = GetU16(b, opt);
    if (magic != 0x10b && magic != 0x20b) return Fail(error, "unknown optional header magic " + Hex(magic));
    image->pe32plus = magic == 0x20b;
    std::uint32_t fixed = image->pe32plus ? 112 : 96;  // bytes before the data directories
    if (image->optionalSize < fixed)
        return Fail(error, "optional header of " + std::to_string(image->optionalSize) + " bytes is too small for a " +
                               (image->pe32plus ? "PE32+" : "PE32") + " image");
    image->sectionAlignment = GetU32(b, opt + 32);
    image->fileAlignment = GetU32(b, opt + 36);
    image->sizeOfImage = GetU32(b, opt + 56);
    image->sizeOfHeaders = GetU32(b, opt + 60);
    image->checksum = GetU32(b, opt + 64);
    image->subsystem = GetU16(b, opt + 68);
    std::uint32_t ndirs = GetU32(b, opt + fixed - 4);
    // Loaders look at 16 entries at most; anything beyond is not a directory.
    image->dirCount = std::min<std::uint32_t>(ndirs, 16);
    image->dirOffset = static_cast<std::uint32_t>(opt + fixed);
    if (fixed + 8ull * image->dirCount > image->optionalSize)
        return Fail(error, "optional header is too small for its " + std::to_string(image->dirCount) + " data directories");
    for (std::uint32_t i = 0; i < image->dirCount; ++i) {
        PeDataDir d;
        d.address = GetU32(b, image->dirOffset + 8 * i);
        d.size = GetU32(b, image->dirOffset + 8 * i + 4);
        image->dirs.push_back(d);
    }
    if (!IsPowerOfTwo(image->fileAlignment)) return Fail(error, "bad FileAlignment " + Hex(image->fileAlignment));
    if (!IsPowerOfTwo(image->sectionAlignment) || image->sectionAlignment < image->fileAlignment)
        return Fail(error, "bad SectionAlignment " + Hex(image->sectionAlignment));
    if (image->sizeOfHeaders > b.size()) return Fail(error, "truncated: the headers claim " + std::to_string(image->sizeOfHeaders) +
                                                                   " bytes, the file has " + std::to_string(b.size()));
    return true;
}

// The section table: every section's data inside the file and outside the
// headers, and its addresses inside 4 GiB.
bool ParseSectionTable(PeImage* image, std::uint32_t nsections, std::string* error) {
    const auto& b = image->bytes;
    const std::uint64_t opt = image->optionalOffset;
    if (nsections == 0) return Fail(error, "the image has no sections");
    if (nsections > 96) return Fail(error, "the image claims " + std::to_string(nsections) + " sections; at most 96 are allowed");
    std::uint64_t table = opt + image->optionalSize;
    image->sectionTableOffset = static_cast<std::uint32_t>(table);
    if (!InBounds(b.size(), table, 40ull * nsections)) return Fail(error, "truncated inside the section table");
    std::uint64_t tableEnd = table + 40ull * nsections;
    for (std::uint32_t i = 0; i < nsections; ++i) {
        std::uint64_t h = table + 40ull * i;
        PeSection s;
        for (int k = 0; k < 8 && b[h + k] != 0; ++k) s.name += static_cast<char>(b[h + k]);
        s.virtualSize = GetU32(b, h + 8);
        s.virtualAddress = GetU32(b, h + 12);
        s.rawSize = GetU32(b, h + 16);
        s.rawOffset = GetU32(b, h + 20);
        s.characteristics = GetU32(b, h + 36);
        std::string label = SectionLabel(s, i);
        if (s.rawSize != 0) {
            if (!InBounds(b.size(), s.rawOffset, s.rawSize))
                return Fail(error, "truncated: " + label + " has raw data at " + Hex(s.rawOffset) + " of " + Hex(s.rawSize) +
                                       " bytes, past the end of the file (" + std::to_string(b.size()) + " bytes)");
            if (s.rawOffset < tableEnd) return Fail(error, label + " has raw data at " + Hex(s.rawOffset) + " inside the headers");
        }
        if (static_cast<std::uint64_t>(s.virtualAddress) + VirtualSpan(s) > 0xFFFFFFFFull)
            return Fail(error, label + " reaches past the 4 GiB address space");
        if (s.virtualAddress < image->sizeOfHeaders)
            return Fail(error, label + " starts at RVA " + Hex(s.virtualAddress) + ", inside the headers");
        image->sections.push_back(s);
    }
    return true;
}

// Sections that overlap, in memory or in the file.
bool CheckSectionOverlaps(PeImage* image, std::string* error) {
    // The loader maps sections in table order at ascending addresses.
    for (std::size_t i = 1; i < image->sections.size(); ++i) {
        const PeSection& p = image->sections[i - 1];
        const PeSection& s = image->sections[i];
        if (static_cast<std::uint64_t>(p.virtualAddress) + VirtualSpan(p) > s.virtualAddress)
            return Fail(error, "sections overlap in memory: " + SectionLabel(p, i - 1) + " and " + SectionLabel(s, i));
    }
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < image->sections.size(); ++i)
        if (image->sections[i].rawSize != 0) order.push_back(i);
    std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        return image->sections[x].rawOffset < image->sections[y].rawOffset;
    });
    for (std::size_t k = 1; k < order.size(); ++k) {
        const PeSection& p = image->sections[order[k - 1]];
        const PeSection& s = image->sections[order[k]];
        if (static_cast<std::uint64_t>(p.rawOffset) + p.rawSize > s.rawOffset)
            return Fail(error, "sections overlap in the file: " + SectionLabel(p, order[k - 1]) + " and " + SectionLabel(s, order[k]));
    }
    return true;
}

}  // namespace

bool ParsePe(PeBytes bytes, PeImage* image, std::string* error) {
    *image = PeImage();
    image->bytes = std::move(bytes);
    std::uint32_t nsections = 0;
    return ParseFileHeader(image, &nsections, error) && ParseOptionalHeader(image, error) &&
           ParseSectionTable(image, nsections, error) && CheckSectionOverlaps(image, error);
}

int SectionOfRva(const PeImage& image, std::uint32_t rva) {
    for (std::size_t i = 0; i < image.sections.size(); ++i) {
        const PeSection& s = image.sections[i];
        std::uint64_t span = std::max(VirtualSpan(s), s.rawSize);
        if (rva >= s.virtualAddress && rva - static_cast<std::uint64_t>(s.virtualAddress) < span) return static_cast<int>(i);
    }
    return -1;
}

bool RvaToOffset(const PeImage& image, std::uint32_t rva, std::uint32_t size, std::uint32_t* offset) {
    int i = SectionOfRva(image, rva);
    if (i < 0) return false;
    const PeSection& s = image.sections[i];
    std::uint64_t within = rva - static_cast<std::uint64_t>(s.virtualAddress);
    if (!InBounds(s.rawSize, within, size)) return false;
    *offset = static_cast<std::uint32_t>(s.rawOffset + within);
    return true;
}

bool ReadResources(const PeImage& image, ResourceList* list, std::string* error) {
    return ReadResourceEntries(image, list, error) && LoadLeafData(image, list, nullptr, error);
}

bool LoadLeafData(const PeImage& image, ResourceList* list, const ResId* keep, std::string* error) {
    for (Resource& r : *list) {
        if (!r.source.external || !r.source.path.empty() || (keep != nullptr && ResIdMatches(r.type, *keep))) continue;
        std::vector<std::uint8_t> data;
        if (!image.bytes.Append(r.source.offset, r.source.size, &data))
            return Fail(error, "resource " + ResIdText(r.type, true) + "/" + ResIdText(r.name, false) + ": " + image.bytes.failure());
        r.data = std::move(data);
        r.source = LeafSource();
    }
    return true;
}

bool ReadResourceEntries(const PeImage& image, ResourceList* list, std::string* error) {
    list->clear();
    if (image.dirs.size() <= kDirResource || image.dirs[kDirResource].address == 0) return true;
    std::uint32_t rva = image.dirs[kDirResource].address;
    int si = SectionOfRva(image, rva);
    if (si < 0) return Fail(error, "the resource directory's RVA " + Hex(rva) + " lies in no section");
    const PeSection& s = image.sections[si];
    std::uint64_t within = rva - static_cast<std::uint64_t>(s.virtualAddress);
    if (within >= s.rawSize) return Fail(error, "the resource directory at RVA " + Hex(rva) + " lies outside its section's file data");
    TreeWalk w;
    w.image = &image;
    w.base = s.rawOffset + within;
    w.limit = s.rawSize - within;
    w.out = list;
    w.error = error;
    if (!WalkDir(&w, 0, 0, ResId(), ResId())) {
        list->clear();
        return false;
    }
    return true;
}

bool ReadExportNames(const PeImage& image, std::vector<std::string>* names, std::string* error) {
    names->clear();
    if (image.dirs.size() <= kDirExport || image.dirs[kDirExport].address == 0) return true;
    const auto& b = image.bytes;
    std::uint32_t dir = 0, table = 0;
    if (!RvaToOffset(image, image.dirs[kDirExport].address, 40, &dir))
        return Fail(error, "the export directory at RVA " + Hex(image.dirs[kDirExport].address) + " does not lie inside the file");
    std::uint32_t count = GetU32(b, dir + 24), namesRva = GetU32(b, dir + 32);
    if (count == 0) return true;
    if (count > 0x10000 || !RvaToOffset(image, namesRva, 4 * count, &table))
        return Fail(error, "the export name table (" + std::to_string(count) + " names at RVA " + Hex(namesRva) +
                               ") does not lie inside the file");
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t rva = GetU32(b, table + 4ull * i), at = 0;
        if (!RvaToOffset(image, rva, 1, &at))
            return Fail(error, "export name " + std::to_string(i + 1) + " at RVA " + Hex(rva) + " does not lie inside the file");
        // The name runs to its NUL, within the section that holds it.
        const PeSection& s = image.sections[SectionOfRva(image, rva)];
        std::uint64_t end = static_cast<std::uint64_t>(s.rawOffset) + s.rawSize;
        std::string name;
        while (at < end && b[at] != 0 && name.size() < 4096) name += static_cast<char>(b[at++]);
        if (at >= end || b[at] != 0) return Fail(error, "export name " + std::to_string(i + 1) + " has no end inside its section");
        names->push_back(name);
    }
    return true;
}

std::uint32_t PeChecksum(const std::vector<std::uint8_t>& bytes, std::uint32_t checksumOffset) {
    PeChecksumSum sum(checksumOffset);
    sum.Add(bytes.data(), bytes.size());
    return sum.Finish();
}

void PeChecksumSum::Add(const std::uint8_t* data, std::size_t size) {
    std::size_t i = 0;
    while (i < size) {
        // A whole word clear of the checksum field, the common case.
        if ((at_ & 1) == 0 && i + 1 < size && (at_ + 1 < field_ || at_ >= field_ + 4)) {
            sum_ += static_cast<std::uint32_t>(data[i]) | (static_cast<std::uint32_t>(data[i + 1]) << 8);
            sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
            i += 2;
            at_ += 2;
            continue;
        }
        // The field counts as zero wherever it sits, even at an odd offset.
        std::uint32_t byte = at_ >= field_ && at_ - field_ < 4 ? 0 : data[i];
        if ((at_ & 1) == 0) {
            low_ = byte;
        } else {
            sum_ += low_ | (byte << 8);
            sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
        }
        ++i;
        ++at_;
    }
}

std::uint32_t PeChecksumSum::Finish() const {
    std::uint64_t sum = sum_;
    if (at_ & 1) {  // a last odd byte is a word of its own, its high half zero
        sum += low_;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + at_);
}

}  // namespace kelpack
