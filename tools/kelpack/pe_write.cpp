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

void WriteSectionHeader(std::vector<std::uint8_t>* b, std::size_t at, const PeSection& s) {
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

bool BuildResourcePieces(ResourceList list, std::uint32_t rva, const std::vector<std::uint8_t>* imageBytes,
                         std::vector<ImagePiece>* pieces, std::uint64_t* size, std::string* error) {
    SortResources(&list);
    std::vector<TypeGroup> types;
    for (const Resource& r : list) {
        if (types.empty() || !ResIdMatches(types.back().type, r.type)) types.push_back({r.type, {}});
        auto& names = types.back().names;
        if (names.empty() || !ResIdMatches(names.back().name, r.name)) names.push_back({r.name, {}});
        names.back().leaves.push_back(&r);
    }
    // Sizes of the directory area: root, then every type directory, then
    // every name directory, in the order they are written.
    std::size_t dirBytes = 16 + 8 * types.size();
    for (const TypeGroup& t : types) {
        dirBytes += 16 + 8 * t.names.size();
        for (const NameGroup& n : t.names) dirBytes += 16 + 8 * n.leaves.size();
    }
    std::size_t dataEntriesAt = dirBytes;
    std::size_t stringsAt = dataEntriesAt + 16 * list.size();
    std::map<std::u16string, std::uint32_t> strings;  // each name once
    std::size_t stringsEnd = stringsAt;
    auto addString = [&](const ResId& id) {
        if (!id.isName || strings.count(id.name)) return;
        strings[id.name] = static_cast<std::uint32_t>(stringsEnd);
        stringsEnd += 2 + 2 * id.name.size();
    };
    for (const TypeGroup& t : types) {
        addString(t.type);
        for (const NameGroup& n : t.names) addString(n.name);
    }
    std::size_t dataAt = AlignUp(stringsEnd, 8);

    // Where each leaf's bytes go, from the sizes alone: no leaf is read here.
    std::uint64_t end = dataAt;
    for (const Resource& r : list) {
        std::uint64_t leaf = LeafSize(r);
        if (leaf > 0xFFFFFFFFull || rva + end + leaf > 0xFFFFFFFFull) {
            *error = "the resources would pass 4 GiB of address space";
            return false;
        }
        end = AlignUp(end + leaf, 8);
    }

    std::vector<std::uint8_t> b;
    b.reserve(dataAt);
    // Root directory.
    std::vector<ResId> keys;
    for (const TypeGroup& t : types) keys.push_back(t.type);
    AppendDirHeader(&b, keys);
    std::size_t nextDir = 16 + 8 * types.size();
    for (const TypeGroup& t : types) {
        AppendU32(&b, EntryKey(t.type, strings));
        AppendU32(&b, 0x80000000u | static_cast<std::uint32_t>(nextDir));
        nextDir += 16 + 8 * t.names.size();
    }
    // Type directories, each listing its names.
    for (const TypeGroup& t : types) {
        keys.clear();
        for (const NameGroup& n : t.names) keys.push_back(n.name);
        AppendDirHeader(&b, keys);
        for (const NameGroup& n : t.names) {
            AppendU32(&b, EntryKey(n.name, strings));
            AppendU32(&b, 0x80000000u | static_cast<std::uint32_t>(nextDir));
            nextDir += 16 + 8 * n.leaves.size();
        }
    }
    // Name directories, each listing its languages and pointing at data entries.
    std::size_t nextEntry = dataEntriesAt;
    for (const TypeGroup& t : types) {
        for (const NameGroup& n : t.names) {
            keys.assign(n.leaves.size(), ResId());
            AppendDirHeader(&b, keys);
            for (const Resource* leaf : n.leaves) {
                AppendU32(&b, leaf->lang);
                AppendU32(&b, static_cast<std::uint32_t>(nextEntry));
                nextEntry += 16;
            }
        }
    }
    // Data entries, in the same order as the leaves.
    std::uint64_t nextData = dataAt;
    for (const TypeGroup& t : types) {
        for (const NameGroup& n : t.names) {
            for (const Resource* leaf : n.leaves) {
                AppendU32(&b, rva + static_cast<std::uint32_t>(nextData));
                AppendU32(&b, static_cast<std::uint32_t>(LeafSize(*leaf)));
                AppendU32(&b, leaf->codepage);
                AppendU32(&b, 0);
                nextData = AlignUp(nextData + LeafSize(*leaf), 8);
            }
        }
    }
    // Names as a 16-bit count and UTF-16 units, in offset order.
    std::vector<std::pair<std::uint32_t, const std::u16string*>> byOffset;
    for (const auto& s : strings) byOffset.push_back({s.second, &s.first});
    std::sort(byOffset.begin(), byOffset.end());
    for (const auto& s : byOffset) {
        AppendU16(&b, static_cast<std::uint32_t>(s.second->size()));
        for (char16_t c : *s.second) AppendU16(&b, c);
    }
    b.resize(dataAt, 0);
    // The data: held bytes go into the current piece, a file's stretch is a
    // piece of its own.
    std::uint64_t written = 0;
    auto flush = [&]() {
        if (b.empty()) return;
        written += b.size();
        pieces->push_back(ImagePiece());
        pieces->back().bytes = std::move(b);
        b.clear();
    };
    for (const TypeGroup& t : types) {
        for (const NameGroup& n : t.names) {
            for (const Resource* leaf : n.leaves) {
                if (!leaf->source.external) {
                    b.insert(b.end(), leaf->data.begin(), leaf->data.end());
                } else if (leaf->source.path.empty()) {
                    // Bytes of the image being rewritten, which is at hand.
                    if (imageBytes == nullptr || !InBounds(imageBytes->size(), leaf->source.offset, leaf->source.size)) {
                        *error = "a resource's bytes lie outside the image";
                        return false;
                    }
                    auto from = imageBytes->begin() + static_cast<std::ptrdiff_t>(leaf->source.offset);
                    b.insert(b.end(), from, from + static_cast<std::ptrdiff_t>(leaf->source.size));
                } else {
                    flush();
                    pieces->push_back(ImagePiece());
                    pieces->back().file = leaf->source;
                    written += leaf->source.size;
                }
                std::uint64_t padded = AlignUp(written + b.size(), 8);
                b.resize(static_cast<std::size_t>(padded - written), 0);
            }
        }
    }
    flush();
    *size = written;
    return true;
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

bool PlanResources(const PeImage& image, const ResourceList& list, PlannedImage* plan, RsrcPlacement* placement,
                   std::vector<std::string>* warnings, std::string* error) {
    *plan = PlannedImage();
    if (image.dirs.size() <= kDirResource) {
        *error = "the image has no data directory entry for resources";
        return false;
    }
    const std::vector<std::uint8_t>& in = image.bytes;
    std::vector<PeSection> sections = image.sections;
    std::uint32_t symbols = image.symbolTableOffset;
    const std::size_t opt = image.optionalOffset;
    // The input's bytes that are kept, up to here: a trailing signature is dropped.
    std::uint64_t inEnd = in.size();
    auto copy = [&](std::uint64_t from, std::uint64_t to) {
        to = std::min(to, inEnd);
        return from < to ? std::vector<std::uint8_t>(in.begin() + static_cast<std::ptrdiff_t>(from),
                                                     in.begin() + static_cast<std::ptrdiff_t>(to))
                         : std::vector<std::uint8_t>();
    };

    std::uint64_t rawEnd = 0;  // end of the last section's file data
    for (const PeSection& s : sections)
        if (s.rawSize != 0) rawEnd = std::max<std::uint64_t>(rawEnd, static_cast<std::uint64_t>(s.rawOffset) + s.rawSize);

    // A signature covers the bytes we are about to change; it cannot survive.
    bool dropSignature = image.dirs.size() > kDirSecurity && image.dirs[kDirSecurity].size != 0;
    if (dropSignature) {
        const PeDataDir& cert = image.dirs[kDirSecurity];
        warnings->push_back("the input is signed; the output carries no signature (sign it again after packing)");
        if (cert.address >= rawEnd && InBounds(in.size(), cert.address, cert.size) &&
            static_cast<std::uint64_t>(cert.address) + cert.size == in.size())
            inEnd = cert.address;
    }

    // The section that holds the current directory, when it starts there and
    // so holds nothing but resources.
    int old = -1;
    const PeDataDir& rdir = image.dirs[kDirResource];
    if (rdir.address != 0) {
        int i = SectionOfRva(image, rdir.address);
        if (i >= 0 && sections[i].virtualAddress == rdir.address) old = i;
    }
    int lastVa = 0;
    for (std::size_t i = 1; i < sections.size(); ++i)
        if (sections[i].virtualAddress > sections[lastVa].virtualAddress) lastVa = static_cast<int>(i);

    std::vector<std::uint8_t> head;       // the file up to the resources: its headers are rewritten below
    std::vector<ImagePiece> rsrc;         // the new resource section
    std::uint64_t rsrcSize = 0;
    std::uint64_t rsrcPadding = 0;        // zeros after it, up to its raw size
    std::vector<std::uint8_t> tail;       // what follows in the file
    std::int64_t initDelta = 0;
    std::uint32_t newRva = 0;
    if (list.empty()) {
        *placement = RsrcPlacement::kNone;
        head = copy(0, inEnd);
    } else if (old >= 0 && old == lastVa &&
               (sections[old].rawSize == 0 || static_cast<std::uint64_t>(sections[old].rawOffset) + sections[old].rawSize == rawEnd)) {
        // Last in memory and in the file: rewrite it at its place and move
        // whatever trails it (symbols, other overlay) behind the new data.
        PeSection& s = sections[old];
        newRva = s.virtualAddress;
        if (!BuildResourcePieces(list, newRva, &in, &rsrc, &rsrcSize, error)) return false;
        std::uint64_t start = s.rawSize != 0 ? s.rawOffset : AlignUp(std::max<std::uint64_t>(inEnd, rawEnd), image.fileAlignment);
        std::uint64_t oldEnd = s.rawSize != 0 ? start + s.rawSize : start;
        tail = copy(oldEnd, inEnd);
        std::uint64_t newRaw = AlignUp(rsrcSize, image.fileAlignment);
        if (start + newRaw + tail.size() > 0xFFFFFFFFull) {
            *error = "the file would pass 4 GiB";
            return false;
        }
        head = copy(0, start);
        head.resize(static_cast<std::size_t>(start), 0);
        rsrcPadding = newRaw - rsrcSize;
        if (symbols != 0 && symbols >= oldEnd) symbols = static_cast<std::uint32_t>(symbols + (start + newRaw) - oldEnd);
        initDelta = static_cast<std::int64_t>(newRaw) - s.rawSize;
        s.rawOffset = static_cast<std::uint32_t>(start);
        s.rawSize = static_cast<std::uint32_t>(newRaw);
        s.virtualSize = static_cast<std::uint32_t>(rsrcSize);
        *placement = RsrcPlacement::kReplacedLast;
    } else {
        bool reused = false;
        if (old >= 0) {
            // Rewriting in place keeps the image from growing, when the new
            // tree fits in the old file data and below the next section.
            PeSection& s = sections[old];
            if (!BuildResourcePieces(list, s.virtualAddress, &in, &rsrc, &rsrcSize, error)) return false;
            std::uint64_t room = s.rawSize;
            for (const PeSection& o : sections)
                if (o.virtualAddress > s.virtualAddress) room = std::min<std::uint64_t>(room, o.virtualAddress - s.virtualAddress);
            if (rsrcSize <= room) {
                head = copy(0, s.rawOffset);
                rsrcPadding = s.rawSize - rsrcSize;
                tail = copy(static_cast<std::uint64_t>(s.rawOffset) + s.rawSize, inEnd);
                s.virtualSize = static_cast<std::uint32_t>(rsrcSize);
                newRva = s.virtualAddress;
                reused = true;
                *placement = RsrcPlacement::kReusedInPlace;
            } else {
                rsrc.clear();
            }
        }
        if (!reused) {
            // A new last section. Its header goes right after the table, which
            // needs 40 free bytes before the first section's data.
            std::uint64_t slot = image.sectionTableOffset + 40ull * sections.size();
            std::uint64_t firstRaw = image.sizeOfHeaders;
            for (const PeSection& s : sections)
                if (s.rawSize != 0) firstRaw = std::min<std::uint64_t>(firstRaw, s.rawOffset);
            bool free = slot + 40 <= firstRaw && sections.size() < 96;
            for (std::uint64_t k = slot; free && k < slot + 40; ++k) free = in[k] == 0;
            if (!free) {
                *error = "the headers have no free room for another section header, and the old resource section is too small";
                return false;
            }
            const PeSection& last = sections[lastVa];
            std::uint64_t after =
                AlignUp(static_cast<std::uint64_t>(last.virtualAddress) + std::max(SpanOf(last), last.rawSize), image.sectionAlignment);
            if (after >= 0xFFFFFFFFull) {
                *error = "the image would pass 4 GiB of address space";
                return false;
            }
            newRva = static_cast<std::uint32_t>(after);
            if (!BuildResourcePieces(list, newRva, &in, &rsrc, &rsrcSize, error)) return false;
            std::uint64_t start = AlignUp(std::max<std::uint64_t>(inEnd, rawEnd), image.fileAlignment);
            std::uint64_t newRaw = AlignUp(rsrcSize, image.fileAlignment);
            if (start + newRaw > 0xFFFFFFFFull) {
                *error = "the file would pass 4 GiB";
                return false;
            }
            head = copy(0, inEnd);
            head.resize(static_cast<std::size_t>(start), 0);
            rsrcPadding = newRaw - rsrcSize;
            PeSection s;
            s.name = ".rsrc";
            s.virtualAddress = newRva;
            s.virtualSize = static_cast<std::uint32_t>(rsrcSize);
            s.rawOffset = static_cast<std::uint32_t>(start);
            s.rawSize = static_cast<std::uint32_t>(newRaw);
            s.characteristics = kScnInitializedData | kScnMemRead;
            sections.push_back(s);
            initDelta = static_cast<std::int64_t>(newRaw);
            PutU16(&head, image.peOffset + 6, static_cast<std::uint32_t>(sections.size()));
            *placement = RsrcPlacement::kAppended;
        }
    }

    // SizeOfImage, the end of the last section rounded up to a page, must
    // itself fit in 32 bits, whichever section grew.
    std::uint64_t imageEnd = image.sizeOfHeaders;
    for (const PeSection& s : sections)
        imageEnd = std::max<std::uint64_t>(imageEnd, static_cast<std::uint64_t>(s.virtualAddress) + std::max(SpanOf(s), 1u));
    imageEnd = AlignUp(imageEnd, image.sectionAlignment);
    if (imageEnd > 0xFFFFFFFFull) {
        *error = "the image would pass 4 GiB of address space";
        return false;
    }

    for (std::size_t i = 0; i < sections.size(); ++i) WriteSectionHeader(&head, image.sectionTableOffset + 40 * i, sections[i]);
    if (dropSignature) {
        PutU32(&head, image.dirOffset + 8 * kDirSecurity, 0);
        PutU32(&head, image.dirOffset + 8 * kDirSecurity + 4, 0);
    }
    PutU32(&head, image.peOffset + 12, symbols);
    PutU32(&head, image.dirOffset + 8 * kDirResource, list.empty() ? 0 : newRva);
    PutU32(&head, image.dirOffset + 8 * kDirResource + 4, static_cast<std::uint32_t>(rsrcSize));
    std::int64_t init = static_cast<std::int64_t>(GetU32(head, opt + 8)) + initDelta;
    PutU32(&head, opt + 8, static_cast<std::uint32_t>(std::max<std::int64_t>(init, 0)));
    PutU32(&head, opt + 56, static_cast<std::uint32_t>(imageEnd));

    plan->fileSize = head.size() + rsrcSize + rsrcPadding + tail.size();
    plan->pieces.push_back(ImagePiece());
    plan->pieces.back().bytes = std::move(head);
    for (ImagePiece& p : rsrc) plan->pieces.push_back(std::move(p));
    if (rsrcPadding != 0) {
        plan->pieces.push_back(ImagePiece());
        plan->pieces.back().zeros = rsrcPadding;
    }
    if (!tail.empty()) {
        plan->pieces.push_back(ImagePiece());
        plan->pieces.back().bytes = std::move(tail);
    }
    // The loader maps SizeOfHeaders bytes from the start of the file, and an
    // image may claim headers that reach over section data or a signature.
    // Rewriting a last section smaller or dropping a signature cuts the file,
    // but never short of those headers.
    if (plan->fileSize < image.sizeOfHeaders) {
        plan->pieces.push_back(ImagePiece());
        plan->pieces.back().zeros = image.sizeOfHeaders - plan->fileSize;
        plan->fileSize = image.sizeOfHeaders;
    }
    plan->sizeOfImage = static_cast<std::uint32_t>(imageEnd);
    plan->checksumOffset = ChecksumOffset(image);
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

bool WriteResources(const PeImage& image, const ResourceList& list, std::vector<std::uint8_t>* out,
                    RsrcPlacement* placement, std::vector<std::string>* warnings, std::string* error) {
    PlannedImage plan;
    if (!PlanResources(image, list, &plan, placement, warnings, error) || !FinishChecksum(&plan, error)) return false;
    out->clear();
    out->reserve(static_cast<std::size_t>(plan.fileSize));
    ByteSink append = [&](const std::uint8_t* data, std::size_t size) {
        out->insert(out->end(), data, data + size);
        return true;
    };
    return EmitImage(plan, append, error);
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
        const std::uint8_t* back = image.bytes.data() + r.source.offset;
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
    if (image.checksum != PeChecksum(image.bytes, ChecksumOffset(image))) {
        *error = "the checksum in the headers is not the one the loader computes";
        return false;
    }
    return true;
}

}  // namespace kelpack
