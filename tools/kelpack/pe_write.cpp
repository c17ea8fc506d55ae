#include "pe_write.h"

#include <algorithm>
#include <map>

#include "byteio.h"
#include "fileio.h"

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

std::uint32_t EntryKey(const ResId& id, const std::map<std::u16string, std::uint32_t>& strings) {
    return id.isName ? (0x80000000u | strings.at(id.name)) : id.id;
}

void AppendDirHeader(std::vector<std::uint8_t>* b, const std::vector<ResId>& keys) {
    std::uint32_t named = 0;
    for (const ResId& k : keys) named += k.isName ? 1 : 0;
    AppendU32(b, 0);   // characteristics
    AppendU32(b, 0);   // time stamp: left 0 so that the same input gives the same output
    AppendU16(b, 0);   // major version
    AppendU16(b, 0);   // minor version
    AppendU16(b, named);
    AppendU16(b, static_cast<std::uint32_t>(keys.size()) - named);
}

std::uint32_t SpanOf(const PeSection& s) { return s.virtualSize != 0 ? s.virtualSize : s.rawSize; }

void PutSectionHeader(std::vector<std::uint8_t>* b, std::size_t at, const PeSection& s) {
    for (int k = 0; k < 8; ++k) (*b)[at + k] = k < static_cast<int>(s.name.size()) ? static_cast<std::uint8_t>(s.name[k]) : 0;
    PutU32(b, at + 8, s.virtualSize);
    PutU32(b, at + 12, s.virtualAddress);
    PutU32(b, at + 16, s.rawSize);
    PutU32(b, at + 20, s.rawOffset);
    PutU32(b, at + 24, 0);
    PutU32(b, at + 28, 0);
    PutU16(b, at + 32, 0);
    PutU16(b, at + 34, 0);
    PutU32(b, at + 36, s.characteristics);
}

// The sorted leaves grouped by type and then by name.
std::vector<TypeGroup> GroupResources(const ResourceList& sorted) {
    std::vector<TypeGroup> types;
    for (const Resource& r : sorted) {
        if (types.empty() || !ResIdMatches(types.back().type, r.type)) types.push_back({r.type, {}});
        auto& names = types.back().names;
        if (names.empty() || !ResIdMatches(names.back().name, r.name)) names.push_back({r.name, {}});
        names.back().leaves.push_back(&r);
    }
    return types;
}

// Where the parts of a resource tree go, from the start of its section.
struct TreeLayout {
    std::size_t dataEntriesAt = 0;                   // after the directories
    std::map<std::u16string, std::uint32_t> strings;  // each name once, at its offset
    std::size_t dataAt = 0;                          // the leaves' bytes, after the names
};

TreeLayout LayOutTree(const std::vector<TypeGroup>& types, std::size_t leaves) {
    TreeLayout t;
    // The directory area: root, then every type directory, then every name
    // directory, in the order they are written.
    std::size_t dirBytes = 16 + 8 * types.size();
    for (const TypeGroup& type : types) {
        dirBytes += 16 + 8 * type.names.size();
        for (const NameGroup& n : type.names) dirBytes += 16 + 8 * n.leaves.size();
    }
    t.dataEntriesAt = dirBytes;
    std::size_t stringsEnd = t.dataEntriesAt + 16 * leaves;
    auto addString = [&](const ResId& id) {
        if (!id.isName || t.strings.count(id.name)) return;
        t.strings[id.name] = static_cast<std::uint32_t>(stringsEnd);
        stringsEnd += 2 + 2 * id.name.size();
    };
    for (const TypeGroup& type : types) {
        addString(type.type);
        for (const NameGroup& n : type.names) addString(n.name);
    }
    t.dataAt = AlignUp(stringsEnd, 8);
    return t;
}

// The root, type and name directories, each entry pointing at the next
// level, the last at the data entries.
void AppendDirectories(std::vector<std::uint8_t>* b, const std::vector<TypeGroup>& types, const TreeLayout& layout) {
    std::vector<ResId> keys;
    for (const TypeGroup& t : types) keys.push_back(t.type);
    AppendDirHeader(b, keys);
    std::size_t nextDir = 16 + 8 * types.size();
    for (const TypeGroup& t : types) {
        AppendU32(b, EntryKey(t.type, layout.strings));
        AppendU32(b, 0x80000000u | static_cast<std::uint32_t>(nextDir));
        nextDir += 16 + 8 * t.names.size();
    }
    for (const TypeGroup& t : types) {
        keys.clear();
        for (const NameGroup& n : t.names) keys.push_back(n.name);
        AppendDirHeader(b, keys);
        for (const NameGroup& n : t.names) {
            AppendU32(b, EntryKey(n.name, layout.strings));
            AppendU32(b, 0x80000000u | static_cast<std::uint32_t>(nextDir));
            nextDir += 16 + 8 * n.leaves.size();
        }
    }
    std::size_t nextEntry = layout.dataEntriesAt;
    for (const TypeGroup& t : types)
        for (const NameGroup& n : t.names) {
            keys.assign(n.leaves.size(), ResId());
            AppendDirHeader(b, keys);
            for (const Resource* leaf : n.leaves) {
                AppendU32(b, leaf->lang);
                AppendU32(b, static_cast<std::uint32_t>(nextEntry));
                nextEntry += 16;
            }
        }
}

// The data entries, in the order of the leaves, then the names as a 16-bit
// count and UTF-16 units, in offset order, padded up to the data.
void AppendDataEntriesAndNames(std::vector<std::uint8_t>* b, const std::vector<TypeGroup>& types, const TreeLayout& layout,
                               std::uint32_t rva) {
    std::uint64_t nextData = layout.dataAt;
    for (const TypeGroup& t : types)
        for (const NameGroup& n : t.names)
            for (const Resource* leaf : n.leaves) {
                AppendU32(b, rva + static_cast<std::uint32_t>(nextData));
                AppendU32(b, static_cast<std::uint32_t>(LeafSize(*leaf)));
                AppendU32(b, leaf->codepage);
                AppendU32(b, 0);
                nextData = AlignUp(nextData + LeafSize(*leaf), 8);
            }
    std::vector<std::pair<std::uint32_t, const std::u16string*>> byOffset;
    for (const auto& s : layout.strings) byOffset.push_back({s.second, &s.first});
    std::sort(byOffset.begin(), byOffset.end());
    for (const auto& s : byOffset) {
        AppendU16(b, static_cast<std::uint32_t>(s.second->size()));
        for (char16_t c : *s.second) AppendU16(b, c);
    }
    b->resize(layout.dataAt, 0);
}

// The leaves' bytes after the tree in `b`: held bytes go into the current
// piece, a file's stretch is a piece of its own. `written` gets the
// section's size.
bool AppendLeafData(const std::vector<TypeGroup>& types, const PeBytes* imageBytes, std::vector<std::uint8_t> b,
                    std::vector<ImagePiece>* pieces, std::uint64_t* written, std::string* error) {
    *written = 0;
    auto flush = [&]() {
        if (b.empty()) return;
        *written += b.size();
        pieces->push_back(ImagePiece());
        pieces->back().bytes = std::move(b);
        b.clear();
    };
    for (const TypeGroup& t : types)
        for (const NameGroup& n : t.names)
            for (const Resource* leaf : n.leaves) {
                if (!leaf->source.external) {
                    b.insert(b.end(), leaf->data.begin(), leaf->data.end());
                } else if (leaf->source.path.empty()) {
                    // Bytes of the image being rewritten, which is at hand.
                    if (imageBytes == nullptr || !InBounds(imageBytes->size(), leaf->source.offset, leaf->source.size)) {
                        *error = "a resource's bytes lie outside the image";
                        return false;
                    }
                    if (!imageBytes->Append(leaf->source.offset, leaf->source.size, &b)) {
                        *error = imageBytes->failure();
                        return false;
                    }
                } else {
                    flush();
                    pieces->push_back(ImagePiece());
                    pieces->back().file = leaf->source;
                    *written += leaf->source.size;
                }
                std::uint64_t padded = AlignUp(*written + b.size(), 8);
                b.resize(static_cast<std::size_t>(padded - *written), 0);
            }
    flush();
    return true;
}

bool BuildResourcePieces(ResourceList list, std::uint32_t rva, const PeBytes* imageBytes,
                         std::vector<ImagePiece>* pieces, std::uint64_t* size, std::string* error) {
    SortResources(&list);
    std::vector<TypeGroup> types = GroupResources(list);
    TreeLayout layout = LayOutTree(types, list.size());
    // Where each leaf's bytes go, from the sizes alone: no leaf is read here.
    std::uint64_t end = layout.dataAt;
    for (const Resource& r : list) {
        std::uint64_t leaf = LeafSize(r);
        if (leaf > 0xFFFFFFFFull || rva + end + leaf > 0xFFFFFFFFull) {
            *error = "the resources would pass 4 GiB of address space";
            return false;
        }
        end = AlignUp(end + leaf, 8);
    }
    std::vector<std::uint8_t> b;
    b.reserve(layout.dataAt);
    AppendDirectories(&b, types, layout);
    AppendDataEntriesAndNames(&b, types, layout, rva);
    return AppendLeafData(types, imageBytes, std::move(b), pieces, size, error);
}

}  // namespace

std::vector<std::uint8_t> BuildResourceSection(ResourceList list, std::uint32_t rva) {
    std::vector<ImagePiece> pieces;
    std::uint64_t size = 0;
    std::string error;
    std::vector<std::uint8_t> b;
    if (!BuildResourcePieces(std::move(list), rva, nullptr, &pieces, &size, &error)) return b;
    for (const ImagePiece& p : pieces) b.insert(b.end(), p.bytes.begin(), p.bytes.end());
    return b;
}

namespace {

// A rewrite of an image's resources in the making: the new file in pieces
// (headers, resource section, its padding, what trails it) and the header
// fields that change with it.
struct Rewrite {
    explicit Rewrite(const PeImage& source)
        : image(source), sections(source.sections), symbols(source.symbolTableOffset), inEnd(source.bytes.size()) {}

    const PeImage& image;
    std::vector<PeSection> sections;
    std::uint32_t symbols;
    std::uint64_t inEnd;               // the input's bytes kept, up to here: a trailing signature is dropped
    std::uint64_t rawEnd = 0;          // end of the last section's file data
    bool dropSignature = false;
    std::vector<std::uint8_t> head;    // the file up to the resources: its headers are rewritten
    std::vector<ImagePiece> rsrc;      // the new resource section
    std::uint64_t rsrcSize = 0;
    std::uint64_t rsrcPadding = 0;     // zeros after it, up to its raw size
    std::vector<std::uint8_t> tail;    // what follows in the file
    std::int64_t initDelta = 0;        // change of SizeOfInitializedData
    std::uint32_t newRva = 0;

    // The input's bytes from `from` to `to`; a read that fails shows in
    // image.bytes.failure(), which PlanResources looks at.
    std::vector<std::uint8_t> Copy(std::uint64_t from, std::uint64_t to) const {
        to = std::min(to, inEnd);
        std::vector<std::uint8_t> out;
        if (from < to) image.bytes.Append(from, to - from, &out);
        return out;
    }
};

// Where the sections' file data ends, and whether a signature, which covers
// the bytes about to change and cannot survive, is dropped.
void StartRewrite(Rewrite* r, std::vector<std::string>* warnings) {
    for (const PeSection& s : r->sections)
        if (s.rawSize != 0) r->rawEnd = std::max<std::uint64_t>(r->rawEnd, static_cast<std::uint64_t>(s.rawOffset) + s.rawSize);
    const PeImage& image = r->image;
    r->dropSignature = image.dirs.size() > kDirSecurity && image.dirs[kDirSecurity].size != 0;
    if (!r->dropSignature) return;
    const PeDataDir& cert = image.dirs[kDirSecurity];
    warnings->push_back("the input is signed; the output carries no signature (sign it again after packing)");
    if (cert.address >= r->rawEnd && InBounds(image.bytes.size(), cert.address, cert.size) &&
        static_cast<std::uint64_t>(cert.address) + cert.size == image.bytes.size())
        r->inEnd = cert.address;
}

// The old resource section, last in memory and in the file, rewritten at
// its place; whatever trails it (symbols, other overlay) moves behind.
bool RewriteLastSection(Rewrite* r, const ResourceList& list, int old, std::string* error) {
    PeSection& s = r->sections[old];
    r->newRva = s.virtualAddress;
    if (!BuildResourcePieces(list, r->newRva, &r->image.bytes, &r->rsrc, &r->rsrcSize, error)) return false;
    std::uint64_t start = s.rawSize != 0 ? s.rawOffset : AlignUp(std::max<std::uint64_t>(r->inEnd, r->rawEnd), r->image.fileAlignment);
    std::uint64_t oldEnd = s.rawSize != 0 ? start + s.rawSize : start;
    r->tail = r->Copy(oldEnd, r->inEnd);
    std::uint64_t newRaw = AlignUp(r->rsrcSize, r->image.fileAlignment);
    if (start + newRaw + r->tail.size() > 0xFFFFFFFFull) {
        *error = "the file would pass 4 GiB";
        return false;
    }
    r->head = r->Copy(0, start);
    r->head.resize(static_cast<std::size_t>(start), 0);
    r->rsrcPadding = newRaw - r->rsrcSize;
    if (r->symbols != 0 && r->symbols >= oldEnd) r->symbols = static_cast<std::uint32_t>(r->symbols + (start + newRaw) - oldEnd);
    r->initDelta = static_cast<std::int64_t>(newRaw) - s.rawSize;
    s.rawOffset = static_cast<std::uint32_t>(start);
    s.rawSize = static_cast<std::uint32_t>(newRaw);
    s.virtualSize = static_cast<std::uint32_t>(r->rsrcSize);
    return true;
}

// The old resource section rewritten in place, which keeps the image from
// growing, when the new tree fits in its file data and below the next
// section; `reused` false when it does not.
bool ReuseInPlace(Rewrite* r, const ResourceList& list, int old, bool* reused, std::string* error) {
    *reused = false;
    PeSection& s = r->sections[old];
    if (!BuildResourcePieces(list, s.virtualAddress, &r->image.bytes, &r->rsrc, &r->rsrcSize, error)) return false;
    std::uint64_t room = s.rawSize;
    for (const PeSection& o : r->sections)
        if (o.virtualAddress > s.virtualAddress) room = std::min<std::uint64_t>(room, o.virtualAddress - s.virtualAddress);
    if (r->rsrcSize > room) {
        r->rsrc.clear();
        return true;
    }
    r->head = r->Copy(0, s.rawOffset);
    r->rsrcPadding = s.rawSize - r->rsrcSize;
    r->tail = r->Copy(static_cast<std::uint64_t>(s.rawOffset) + s.rawSize, r->inEnd);
    s.virtualSize = static_cast<std::uint32_t>(r->rsrcSize);
    r->newRva = s.virtualAddress;
    *reused = true;
    return true;
}

// A new last section. Its header goes right after the table, which needs
// 40 free bytes before the first section's data.
bool AppendSection(Rewrite* r, const ResourceList& list, int lastVa, std::string* error) {
    const PeImage& image = r->image;
    std::uint64_t slot = image.sectionTableOffset + 40ull * r->sections.size();
    std::uint64_t firstRaw = image.sizeOfHeaders;
    for (const PeSection& s : r->sections)
        if (s.rawSize != 0) firstRaw = std::min<std::uint64_t>(firstRaw, s.rawOffset);
    bool free = slot + 40 <= firstRaw && r->sections.size() < 96;
    for (std::uint64_t k = slot; free && k < slot + 40; ++k) free = image.bytes[k] == 0;
    if (!free) {
        *error = "the headers have no free room for another section header, and the old resource section is too small";
        return false;
    }
    const PeSection& last = r->sections[lastVa];
    std::uint64_t after =
        AlignUp(static_cast<std::uint64_t>(last.virtualAddress) + std::max(SpanOf(last), last.rawSize), image.sectionAlignment);
    if (after >= 0xFFFFFFFFull) {
        *error = "the image would pass 4 GiB of address space";
        return false;
    }
    r->newRva = static_cast<std::uint32_t>(after);
    if (!BuildResourcePieces(list, r->newRva, &image.bytes, &r->rsrc, &r->rsrcSize, error)) return false;
    std::uint64_t start = AlignUp(std::max<std::uint64_t>(r->inEnd, r->rawEnd), image.fileAlignment);
    std::uint64_t newRaw = AlignUp(r->rsrcSize, image.fileAlignment);
    if (start + newRaw > 0xFFFFFFFFull) {
        *error = "the file would pass 4 GiB";
        return false;
    }
    r->head = r->Copy(0, r->inEnd);
    r->head.resize(static_cast<std::size_t>(start), 0);
    r->rsrcPadding = newRaw - r->rsrcSize;
    PeSection s;
    s.name = ".rsrc";
    s.virtualAddress = r->newRva;
    s.virtualSize = static_cast<std::uint32_t>(r->rsrcSize);
    s.rawOffset = static_cast<std::uint32_t>(start);
    s.rawSize = static_cast<std::uint32_t>(newRaw);
    s.characteristics = kScnInitializedData | kScnMemRead;
    r->sections.push_back(s);
    r->initDelta = static_cast<std::int64_t>(newRaw);
    PutU16(&r->head, image.peOffset + 6, static_cast<std::uint32_t>(r->sections.size()));
    return true;
}

// Places the new resources: where the old section was when that serves,
// else in a new last section.
bool PlaceResources(Rewrite* r, const ResourceList& list, RsrcPlacement* placement, std::string* error) {
    const PeImage& image = r->image;
    // The section that holds the current directory, when it starts there and
    // so holds nothing but resources.
    int old = -1;
    const PeDataDir& rdir = image.dirs[kDirResource];
    if (rdir.address != 0) {
        int i = SectionOfRva(image, rdir.address);
        if (i >= 0 && r->sections[i].virtualAddress == rdir.address) old = i;
    }
    int lastVa = 0;
    for (std::size_t i = 1; i < r->sections.size(); ++i)
        if (r->sections[i].virtualAddress > r->sections[lastVa].virtualAddress) lastVa = static_cast<int>(i);
    if (list.empty()) {
        *placement = RsrcPlacement::kNone;
        r->head = r->Copy(0, r->inEnd);
        return true;
    }
    const PeSection* s = old >= 0 ? &r->sections[old] : nullptr;
    if (s != nullptr && old == lastVa && (s->rawSize == 0 || static_cast<std::uint64_t>(s->rawOffset) + s->rawSize == r->rawEnd)) {
        *placement = RsrcPlacement::kReplacedLast;
        return RewriteLastSection(r, list, old, error);
    }
    bool reused = false;
    if (old >= 0 && !ReuseInPlace(r, list, old, &reused, error)) return false;
    *placement = reused ? RsrcPlacement::kReusedInPlace : RsrcPlacement::kAppended;
    return reused || AppendSection(r, list, lastVa, error);
}

// The headers of the new file: section table, data directories, symbols,
// SizeOfInitializedData and SizeOfImage, the end of the last section
// rounded up to a page, which must itself fit in 32 bits.
bool RewriteHeaders(Rewrite* r, const ResourceList& list, std::uint64_t* imageEnd, std::string* error) {
    const PeImage& image = r->image;
    *imageEnd = image.sizeOfHeaders;
    for (const PeSection& s : r->sections)
        *imageEnd = std::max<std::uint64_t>(*imageEnd, static_cast<std::uint64_t>(s.virtualAddress) + std::max(SpanOf(s), 1u));
    *imageEnd = AlignUp(*imageEnd, image.sectionAlignment);
    if (*imageEnd > 0xFFFFFFFFull) {
        *error = "the image would pass 4 GiB of address space";
        return false;
    }
    std::vector<std::uint8_t>& head = r->head;
    for (std::size_t i = 0; i < r->sections.size(); ++i) PutSectionHeader(&head, image.sectionTableOffset + 40 * i, r->sections[i]);
    if (r->dropSignature) {
        PutU32(&head, image.dirOffset + 8 * kDirSecurity, 0);
        PutU32(&head, image.dirOffset + 8 * kDirSecurity + 4, 0);
    }
    const std::size_t opt = image.optionalOffset;
    PutU32(&head, image.peOffset + 12, r->symbols);
    PutU32(&head, image.dirOffset + 8 * kDirResource, list.empty() ? 0 : r->newRva);
    PutU32(&head, image.dirOffset + 8 * kDirResource + 4, static_cast<std::uint32_t>(r->rsrcSize));
    std::int64_t init = static_cast<std::int64_t>(GetU32(head, opt + 8)) + r->initDelta;
    PutU32(&head, opt + 8, static_cast<std::uint32_t>(std::max<std::int64_t>(init, 0)));
    PutU32(&head, opt + 56, static_cast<std::uint32_t>(*imageEnd));
    return true;
}

// The pieces of the new file, in order.
void AssemblePlan(Rewrite* r, std::uint64_t imageEnd, PlannedImage* plan) {
    plan->fileSize = r->head.size() + r->rsrcSize + r->rsrcPadding + r->tail.size();
    plan->pieces.push_back(ImagePiece());
    plan->pieces.back().bytes = std::move(r->head);
    for (ImagePiece& p : r->rsrc) plan->pieces.push_back(std::move(p));
    if (r->rsrcPadding != 0) {
        plan->pieces.push_back(ImagePiece());
        plan->pieces.back().zeros = r->rsrcPadding;
    }
    if (!r->tail.empty()) {
        plan->pieces.push_back(ImagePiece());
        plan->pieces.back().bytes = std::move(r->tail);
    }
    // The loader maps SizeOfHeaders bytes from the start of the file, and an
    // image may claim headers that reach over section data or a signature.
    // Rewriting a last section smaller or dropping a signature cuts the file,
    // but never short of those headers.
    if (plan->fileSize < r->image.sizeOfHeaders) {
        plan->pieces.push_back(ImagePiece());
        plan->pieces.back().zeros = r->image.sizeOfHeaders - plan->fileSize;
        plan->fileSize = r->image.sizeOfHeaders;
    }
    plan->sizeOfImage = static_cast<std::uint32_t>(imageEnd);
    plan->checksumOffset = ChecksumOffset(r->image);
}

}  // namespace

bool PlanResources(const PeImage& image, const ResourceList& list, PlannedImage* plan, RsrcPlacement* placement,
                   std::vector<std::string>* warnings, std::string* error) {
    *plan = PlannedImage();
    if (image.dirs.size() <= kDirResource) {
        *error = "the image has no data directory entry for resources";
        return false;
    }
    Rewrite r(image);
    StartRewrite(&r, warnings);
    std::uint64_t imageEnd = 0;
    if (!PlaceResources(&r, list, placement, error) || !RewriteHeaders(&r, list, &imageEnd, error)) return false;
    if (!image.bytes.failure().empty()) return Fail(error, image.bytes.failure());
    AssemblePlan(&r, imageEnd, plan);
    return true;
}

bool EmitImage(const PlannedImage& plan, const ByteSink& sink, std::string* error) {
    static const std::uint8_t kZeros[4096] = {};
    for (const ImagePiece& p : plan.pieces) {
        bool ok = true;
        if (p.file.external) {
            std::string why;
            bool sinkOk = true;
            if (!ReadFileChunks(p.file.path, p.file.offset, p.file.size,
                                [&](const std::uint8_t* data, std::size_t size) { return sinkOk = sink(data, size); }, &why)) {
                if (sinkOk) *error = why;
                return false;
            }
        } else if (p.zeros != 0) {
            for (std::uint64_t left = p.zeros; ok && left > 0;) {
                std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof kZeros));
                ok = sink(kZeros, n);
                left -= n;
            }
        } else if (!p.bytes.empty()) {
            ok = sink(p.bytes.data(), p.bytes.size());
        }
        if (!ok) return false;
    }
    return true;
}

bool FinishChecksum(PlannedImage* plan, std::string* error) {
    PeChecksumSum sum(plan->checksumOffset);
    ByteSink add = [&](const std::uint8_t* data, std::size_t size) {
        sum.Add(data, size);
        return true;
    };
    if (!EmitImage(*plan, add, error)) return false;
    PutU32(&plan->pieces.front().bytes, plan->checksumOffset, sum.Finish());
    return true;
}

bool CheckWrittenImage(std::vector<std::uint8_t> bytes, const ResourceList& written, std::string* error) {
    PeImage image;
    ResourceList read;  // where each leaf lies in `bytes`, none of them copied
    if (!ParsePe(std::move(bytes), &image, error) || !ReadResourceEntries(image, &read, error)) return false;
    std::vector<const Resource*> wrote;
    for (const Resource& r : written) wrote.push_back(&r);
    std::stable_sort(wrote.begin(), wrote.end(), [](const Resource* a, const Resource* b) { return ResourceOrder(*a, *b); });
    SortResources(&read);
    if (read.size() != wrote.size()) {
        *error = std::to_string(read.size()) + " resources read back where " + std::to_string(wrote.size()) + " were written";
        return false;
    }
    for (std::size_t i = 0; i < wrote.size(); ++i) {
        const Resource& w = *wrote[i];
        const Resource& r = read[i];
        bool same = w.type.isName == r.type.isName && ResIdMatches(w.type, r.type) && w.name.isName == r.name.isName &&
                    ResIdMatches(w.name, r.name) && w.lang == r.lang && w.codepage == r.codepage &&
                    LeafSize(w) == r.source.size;
        const std::uint8_t* back = image.bytes.whole().data() + r.source.offset;
        if (same && !w.source.external) {
            same = std::equal(w.data.begin(), w.data.end(), back);
        } else if (same && !w.source.path.empty()) {
            // Compared with its file a piece at a time, as it was copied.
            std::uint64_t at = 0;
            std::string why;
            bool equal = true;
            bool whole = ReadFileChunks(w.source.path, w.source.offset, w.source.size,
                                       [&](const std::uint8_t* data, std::size_t size) {
                                           equal = std::equal(data, data + size, back + at);
                                           at += size;
                                           return equal;
                                       },
                                       &why);
            if (!whole && equal) {
                *error = why;
                return false;
            }
            same = whole;
        } else if (same) {
            *error = "resource " + ResIdText(w.type, true) + "/" + ResIdText(w.name, false) + " has no bytes to compare with";
            return false;
        }
        if (!same) {
            *error = "resource " + ResIdText(w.type, true) + "/" + ResIdText(w.name, false) + " language " +
                     std::to_string(w.lang) + " reads back otherwise than it was written";
            return false;
        }
    }
    if (image.checksum != PeChecksum(image.bytes.whole(), ChecksumOffset(image))) {
        *error = "the checksum in the headers is not the one the loader computes";
        return false;
    }
    return true;
}

}  // namespace kelpack
