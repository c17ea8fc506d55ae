#include "cabinet.h"

#include <algorithm>
#include <cstdio>

#include "byteio.h"

#if defined(KEL_MSZIP)
#include <zlib.h>
#endif

namespace kelpack {

namespace {

constexpr std::uint32_t kHeaderBytes = 36;  // CFHEADER without its optional parts
constexpr std::uint32_t kFolderBytes = 8;   // CFFOLDER
constexpr std::uint32_t kFileBytes = 16;    // CFFILE without its name
constexpr std::uint32_t kBlockHeaderBytes = 8;  // CFDATA without its data
constexpr std::size_t kMaxNameBytes = 255;  // a name and its NUL fit 256 bytes

// CFHEADER flags.
constexpr std::uint16_t kFlagPrevCabinet = 0x0001;
constexpr std::uint16_t kFlagNextCabinet = 0x0002;
constexpr std::uint16_t kFlagReservePresent = 0x0004;

// A block's deflate stream may grow past its data, for data that does not
// compress: deflate's stored blocks add 5 bytes in 16 KiB, and "CK" comes first.
constexpr std::size_t kMaxMszipBlockBytes = 2 + kCabBlockBytes + 64;

// The checksum a CFDATA block carries over its data and its two sizes.
std::uint32_t BlockChecksum(const std::uint8_t* data, std::size_t stored, std::size_t plain) {
    const std::uint8_t sizes[4] = {static_cast<std::uint8_t>(stored), static_cast<std::uint8_t>(stored >> 8),
                                   static_cast<std::uint8_t>(plain), static_cast<std::uint8_t>(plain >> 8)};
    return CabChecksum(sizes, 4, CabChecksum(data, stored, 0));
}

#if defined(KEL_MSZIP)

// One raw deflate stream per block, so that every block stands alone.
class MszipBlocks {
public:
    MszipBlocks() { ok_ = deflateInit2(&z_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
    ~MszipBlocks() {
        if (ok_) deflateEnd(&z_);
    }
    MszipBlocks(const MszipBlocks&) = delete;
    MszipBlocks& operator=(const MszipBlocks&) = delete;

    // "CK" and the block's data deflated into `out`; false when zlib fails.
    bool Compress(const std::vector<std::uint8_t>& plain, std::vector<std::uint8_t>* out) {
        if (!ok_ || deflateReset(&z_) != Z_OK) return false;
        out->resize(kMaxMszipBlockBytes);
        (*out)[0] = 'C';
        (*out)[1] = 'K';
        z_.next_in = const_cast<Bytef*>(plain.data());
        z_.avail_in = static_cast<uInt>(plain.size());
        z_.next_out = out->data() + 2;
        z_.avail_out = static_cast<uInt>(out->size() - 2);
        if (deflate(&z_, Z_FINISH) != Z_STREAM_END) return false;
        out->resize(out->size() - z_.avail_out);
        return true;
    }

private:
    z_stream z_{};
    bool ok_ = false;
};

// Inflates MSZIP blocks, each with the data of the block before it as the
// history its back-references may reach into.
class MszipReader {
public:
    MszipReader() { ok_ = inflateInit2(&z_, -MAX_WBITS) == Z_OK; }
    ~MszipReader() {
        if (ok_) inflateEnd(&z_);
    }
    MszipReader(const MszipReader&) = delete;
    MszipReader& operator=(const MszipReader&) = delete;

    // A new folder starts without history.
    void NewFolder() { history_.clear(); }

    // The block's data into `plain`, which must come to `expected` bytes;
    // false with the reason otherwise.
    bool Inflate(const std::uint8_t* data, std::size_t size, std::size_t expected, std::vector<std::uint8_t>* plain,
                 std::string* why) {
        if (size < 2 || data[0] != 'C' || data[1] != 'K') return Fail(why, "its MSZIP data does not start with \"CK\"");
        if (!ok_ || inflateReset(&z_) != Z_OK) return Fail(why, "zlib cannot inflate");
        if (!history_.empty() &&
            inflateSetDictionary(&z_, history_.data(), static_cast<uInt>(history_.size())) != Z_OK)
            return Fail(why, "zlib cannot take the block before as history");
        // One byte of room past the limit tells a block that inflates too far.
        plain->resize(kCabBlockBytes + 1);
        z_.next_in = const_cast<Bytef*>(data + 2);
        z_.avail_in = static_cast<uInt>(size - 2);
        z_.next_out = plain->data();
        z_.avail_out = static_cast<uInt>(plain->size());
        int rc = inflate(&z_, Z_FINISH);
        std::size_t got = plain->size() - z_.avail_out;
        if (got > kCabBlockBytes) return Fail(why, "it inflates past 32768 bytes, the most a block holds");
        if (rc != Z_STREAM_END)
            return Fail(why, rc == Z_DATA_ERROR ? "its deflate data is damaged" : "its deflate stream does not end within the block");
        if (got != expected)
            return Fail(why, "it inflates to " + std::to_string(got) + " bytes, but says it holds " + std::to_string(expected));
        plain->resize(got);
        history_ = *plain;
        return true;
    }

private:
    z_stream z_{};
    bool ok_ = false;
    std::vector<std::uint8_t> history_;
};

#else

// Built without zlib: MSZIP is refused with the reason, both ways.
constexpr const char* kNoZlib = "this kelpack is built without zlib, so it neither writes nor reads MSZIP";

class MszipBlocks {
public:
    bool Compress(const std::vector<std::uint8_t>&, std::vector<std::uint8_t>*) { return false; }
};

class MszipReader {
public:
    void NewFolder() {}
    bool Inflate(const std::uint8_t*, std::size_t, std::size_t, std::vector<std::uint8_t>*, std::string* why) {
        return Fail(why, kNoZlib);
    }
};

#endif

// Reads the parts of a cabinet it asks for, through the caller's fetch.
struct Source {
    std::uint32_t size;  // as the header gives it, checked against the file
    const CabFetch& fetch;

    bool Get(std::uint64_t at, std::size_t n, std::vector<std::uint8_t>* out) const {
        if (!InBounds(size, at, n)) return false;
        out->resize(n);
        return n == 0 || fetch(at, n, out->data());
    }
};

// The part of a cabinet after the header: its folders, then the files that
// name them. `folderTable` is where the folder entries start.
struct Layout {
    std::uint32_t folderReserve = 0;  // bytes of per-folder reserve
    std::uint32_t blockReserve = 0;   // bytes of per-block reserve
    std::uint32_t folderTable = 0;
    std::uint16_t folderCount = 0;
    std::uint16_t fileCount = 0;
    std::uint32_t fileTable = 0;
};

bool ReadHeader(std::uint64_t fileSize, const CabFetch& fetch, Cabinet* cab, Layout* l, std::string* error) {
    std::vector<std::uint8_t> b(kHeaderBytes + 4);
    std::size_t have = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, b.size()));
    if (fileSize < kHeaderBytes || !fetch(0, have, b.data()) || b[0] != 'M' || b[1] != 'S' || b[2] != 'C' || b[3] != 'F')
        return Fail(error, "not a cabinet: no MSCF signature");
    b.resize(have);
    cab->size = GetU32(b, 8);
    if (cab->size > fileSize)
        return Fail(error, "the cabinet says it is " + std::to_string(cab->size) + " bytes, but the file has only " +
                               std::to_string(fileSize));
    if (cab->size < kHeaderBytes)
        return Fail(error, "the cabinet says it is " + std::to_string(cab->size) + " bytes, less than its header");
    if (b[25] != 1) return Fail(error, "cabinet format version " + std::to_string(b[25]) + "." + std::to_string(b[24]) + ", not 1.x");
    l->fileTable = GetU32(b, 16);
    l->folderCount = GetU16(b, 26);
    l->fileCount = GetU16(b, 28);
    std::uint16_t flags = GetU16(b, 30);
    cab->setId = GetU16(b, 32);
    if (flags & (kFlagPrevCabinet | kFlagNextCabinet))
        return Fail(error, "the cabinet is one of a set (it names a previous or next one); kelpack reads a single cabinet");
    std::uint64_t at = kHeaderBytes;
    if (flags & kFlagReservePresent) {
        if (!InBounds(cab->size, at, 4) || b.size() < at + 4) return Fail(error, "the cabinet's header ends early");
        std::uint16_t headerReserve = GetU16(b, at);
        l->folderReserve = b[at + 2];
        l->blockReserve = b[at + 3];
        at += 4 + static_cast<std::uint64_t>(headerReserve);
    }
    if (!InBounds(cab->size, at, static_cast<std::uint64_t>(l->folderCount) * (kFolderBytes + l->folderReserve)))
        return Fail(error, "the cabinet's " + std::to_string(l->folderCount) + " folder entries run past its end");
    l->folderTable = static_cast<std::uint32_t>(at);
    return true;
}

// Reads a folder's blocks, checking each block's sizes and checksum, and
// hands its data on.
bool ReadFolder(const Source& src, const Layout& l, std::uint16_t index, const CabDataSink& sink, MszipReader* mszip,
                Cabinet* cab, std::string* error) {
    std::vector<std::uint8_t> entry, head, stored, plain;
    src.Get(l.folderTable + static_cast<std::uint64_t>(index) * (kFolderBytes + l.folderReserve), kFolderBytes, &entry);
    if (entry.size() != kFolderBytes) return Fail(error, "folder " + std::to_string(index + 1) + "'s entry cannot be read");
    std::uint32_t at = GetU32(entry, 0);
    std::uint16_t blocks = GetU16(entry, 4), type = GetU16(entry, 6);
    std::string folder = "folder " + std::to_string(index + 1);
    if ((type & 0x000F) != kCabStored && (type & 0x000F) != kCabMszip)
        return Fail(error, folder + " is compressed with " + CabCompressionName(type) +
                               "; kelpack reads cabinets stored or compressed with MSZIP, as a device's installer does");
    mszip->NewFolder();
    std::uint64_t pos = at, folderBytes = 0;
    for (std::uint32_t k = 0; k < blocks; ++k) {
        std::string block = folder + ", data block " + std::to_string(k + 1);
        if (!src.Get(pos, kBlockHeaderBytes + l.blockReserve, &head)) return Fail(error, block + " lies past the cabinet's end");
        std::uint32_t sum = GetU32(head, 0);
        std::uint16_t storedSize = GetU16(head, 4), plainSize = GetU16(head, 6);
        if ((type & 0x000F) == kCabStored && storedSize != plainSize)
            return Fail(error, block + " stores " + std::to_string(storedSize) + " bytes for " + std::to_string(plainSize) +
                                   ", in a folder without compression");
        if (plainSize > kCabBlockBytes) return Fail(error, block + " holds " + std::to_string(plainSize) + " bytes, more than 32768");
        std::uint64_t from = pos + kBlockHeaderBytes + l.blockReserve;
        if (!src.Get(from, storedSize, &stored)) return Fail(error, block + " runs past the cabinet's end");
        // A stored checksum of 0 means none was computed.
        if (sum != 0 && BlockChecksum(stored.data(), storedSize, plainSize) != sum)
            return Fail(error, block + ": its checksum does not match its bytes");
        // Blocks lie one after another: more stored data than the cabinet
        // has bytes means blocks (or folders) overlap, which would also let
        // a small file claim any amount of memory.
        cab->joinedBytes += storedSize;
        if (cab->joinedBytes > cab->size)
            return Fail(error, block + " overlaps data already read: the folders' blocks hold more bytes than the cabinet");
        std::string why;
        if ((type & 0x000F) == kCabMszip) {
            if (!mszip->Inflate(stored.data(), storedSize, plainSize, &plain, &why)) return Fail(error, block + ": " + why);
        } else {
            plain.swap(stored);
        }
        folderBytes += plain.size();
        if (sink && !plain.empty() && !sink(index, plain.data(), plain.size())) return Fail(error, block + ": " + *error);
        pos = from + storedSize;
    }
    cab->blocks += blocks;
    cab->folderBytes.push_back(folderBytes);
    cab->compression.push_back(static_cast<std::uint16_t>(type & 0x000F));
    return true;
}

bool ReadFileEntries(const Source& src, const Layout& l, Cabinet* cab, std::string* error) {
    std::uint64_t at = l.fileTable;
    std::vector<std::uint8_t> b, name;
    for (std::uint32_t i = 0; i < l.fileCount; ++i) {
        std::string what = "file entry " + std::to_string(i + 1);
        if (!src.Get(at, kFileBytes, &b)) return Fail(error, what + " lies past the cabinet's end");
        CabMember e;
        e.size = GetU32(b, 0);
        e.offset = GetU32(b, 4);
        e.folder = GetU16(b, 8);
        e.date = GetU16(b, 10);
        e.time = GetU16(b, 12);
        e.attributes = GetU16(b, 14);
        at += kFileBytes;
        std::size_t room = static_cast<std::size_t>(std::min<std::uint64_t>(kMaxNameBytes + 1, src.size - std::min<std::uint64_t>(at, src.size)));
        if (!src.Get(at, room, &name)) return Fail(error, what + " lies past the cabinet's end");
        std::size_t end = 0;
        while (end < name.size() && name[end] != 0) ++end;
        if (end == name.size()) return Fail(error, what + ": its name has no end within 256 bytes and the cabinet");
        e.name.assign(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(end));
        at += end + 1;
        if (e.folder >= 0xFFFD)
            return Fail(error, what + " (\"" + e.name + "\") continues from or into another cabinet of a set");
        if (e.folder >= cab->folderBytes.size())
            return Fail(error, what + " (\"" + e.name + "\") names folder " + std::to_string(e.folder + 1) + " of " +
                                   std::to_string(cab->folderBytes.size()));
        if (!InBounds(cab->folderBytes[e.folder], e.offset, e.size))
            return Fail(error, what + " (\"" + e.name + "\"): its " + std::to_string(e.size) + " bytes at " +
                                   std::to_string(e.offset) + " run past its folder's " +
                                   std::to_string(cab->folderBytes[e.folder]) + " bytes of data");
        cab->files.push_back(e);
    }
    return true;
}

}  // namespace

std::uint32_t Crc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
#if defined(KEL_MSZIP)
    // zlib's is several bytes a step; fed in pieces its length type holds.
    while (size > 0) {
        uInt part = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        crc = static_cast<std::uint32_t>(crc32(crc, data, part));
        data += part, size -= part;
    }
    return crc;
#else
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
#endif
}

std::uint64_t CabFileSize(const CabFile& f) { return f.path.empty() ? f.data.size() : f.size; }

std::string CabCompressionName(std::uint16_t type) {
    switch (type & 0x000F) {
        case kCabStored: return "stored";
        case kCabMszip: return "MSZIP";
        case 2: return "Quantum";
        case 3: return "LZX";
        default: return "compression type " + std::to_string(type & 0x000F);
    }
}

std::uint32_t CabChecksum(const std::uint8_t* data, std::size_t size, std::uint32_t seed) {
    std::uint32_t sum = seed;
    std::size_t words = size / 4;
    for (std::size_t i = 0; i < words; ++i, data += 4)
        sum ^= static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8) |
               (static_cast<std::uint32_t>(data[2]) << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
    // The last one to three bytes go in the other way round: the first of
    // them lands highest.
    std::uint32_t tail = 0;
    for (std::size_t i = 0; i < size % 4; ++i) tail = (tail << 8) | data[i];
    return sum ^ tail;
}

bool WriteCabinet(const std::vector<CabFile>& files, std::uint16_t setId, CabCompression compression, const ByteSink& sink,
                  const BytePatcher& patch, std::uint64_t* written, std::string* error) {
    if (files.size() > 0xFFFF) return Fail(error, "a cabinet holds at most 65535 files, not " + std::to_string(files.size()));
    std::uint64_t dataBytes = 0, fileTableBytes = 0;
    for (const CabFile& f : files) {
        if (f.name.empty() || f.name.size() > kMaxNameBytes || f.name.find('\0') != std::string::npos)
            return Fail(error, "\"" + f.name + "\" cannot be a name in a cabinet: 1 to 255 bytes, no NUL");
        dataBytes += CabFileSize(f);
        fileTableBytes += kFileBytes + f.name.size() + 1;
    }
    if (dataBytes > kCabMaxDataBytes)
        return Fail(error, "the files come to " + std::to_string(dataBytes) + " bytes, more than the " +
                               std::to_string(kCabMaxDataBytes) + " one cabinet folder holds");
    const std::uint64_t blocks = (dataBytes + kCabBlockBytes - 1) / kCabBlockBytes;
    const std::uint64_t dataStart = kHeaderBytes + kFolderBytes + fileTableBytes;
    // Stored, the size is known now; compressed, this is the most it can
    // be, and the header is rewritten once the last block is out.
    const std::uint64_t perBlock = compression == kCabMszip ? kMaxMszipBlockBytes : 0;
    std::uint64_t total = dataStart + blocks * kBlockHeaderBytes + (perBlock ? blocks * perBlock : dataBytes);
    if (total > 0xFFFFFFFFull && (compression != kCabMszip || dataStart + blocks * kBlockHeaderBytes + dataBytes > 0xFFFFFFFFull))
        return Fail(error, "the cabinet would be " + std::to_string(total) + " bytes, more than 4 GiB");

    std::vector<std::uint8_t> b;
    b.reserve(static_cast<std::size_t>(dataStart));
    b.insert(b.end(), {'M', 'S', 'C', 'F'});
    AppendU32(&b, 0);
    AppendU32(&b, static_cast<std::uint32_t>(compression == kCabMszip ? 0 : total));
    AppendU32(&b, 0);
    AppendU32(&b, kHeaderBytes + kFolderBytes);  // the file entries follow the one folder entry
    AppendU32(&b, 0);
    b.push_back(3);  // format version 1.3
    b.push_back(1);
    AppendU16(&b, 1);  // folders
    AppendU16(&b, static_cast<std::uint32_t>(files.size()));
    AppendU16(&b, 0);  // flags: no reserve, no previous or next cabinet
    AppendU16(&b, setId);
    AppendU16(&b, 0);  // the first (and only) cabinet of its set

    AppendU32(&b, static_cast<std::uint32_t>(dataStart));
    AppendU16(&b, static_cast<std::uint32_t>(blocks));
    AppendU16(&b, compression);

    std::uint32_t offset = 0;
    for (const CabFile& f : files) {
        AppendU32(&b, static_cast<std::uint32_t>(CabFileSize(f)));
        AppendU32(&b, offset);
        AppendU16(&b, 0);  // folder
        AppendU16(&b, f.date);
        AppendU16(&b, f.time);
        AppendU16(&b, f.attributes);
        b.insert(b.end(), f.name.begin(), f.name.end());
        b.push_back(0);
        offset += static_cast<std::uint32_t>(CabFileSize(f));
    }
    *error = std::string();
    if (!sink(b.data(), b.size())) return false;
    std::uint64_t size = b.size();

    // The folder's data is the files one after another, cut into blocks
    // that ignore where one file ends and the next begins.
    MszipBlocks mszip;
    std::vector<std::uint8_t> block, packed, head(kBlockHeaderBytes);
    block.reserve(kCabBlockBytes);
    auto flush = [&]() {
        const std::vector<std::uint8_t>* out = &block;
        if (compression == kCabMszip) {
            if (!mszip.Compress(block, &packed))
                return Fail(error, kCabHasMszip ? "zlib could not compress a block" : "this kelpack is built without zlib: no --compress");
            out = &packed;
        }
        head.clear();
        AppendU32(&head, BlockChecksum(out->data(), out->size(), block.size()));
        AppendU16(&head, static_cast<std::uint32_t>(out->size()));
        AppendU16(&head, static_cast<std::uint32_t>(block.size()));
        if (!sink(head.data(), head.size()) || !sink(out->data(), out->size())) return false;
        size += head.size() + out->size();
        block.clear();
        return true;
    };
    auto take = [&](const std::uint8_t* data, std::size_t n) {
        while (n > 0) {
            std::size_t part = std::min<std::size_t>(kCabBlockBytes - block.size(), n);
            block.insert(block.end(), data, data + part);
            data += part;
            n -= part;
            if (block.size() == kCabBlockBytes && !flush()) return false;
        }
        return true;
    };
    for (const CabFile& f : files) {
        bool ok = f.path.empty() ? f.data.empty() || take(f.data.data(), f.data.size())
                                 : ReadFileChunks(f.path, 0, f.size, take, error);
        if (!ok) return false;
    }
    if (!block.empty() && !flush()) return false;
    if (compression == kCabMszip) {
        const std::uint8_t stated[4] = {static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8),
                                        static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 24)};
        if (!patch(8, stated, 4)) return false;
    }
    *written = size;
    return true;
}

bool LayOutCabinet(const std::vector<CabFile>& files, std::uint16_t setId, std::vector<std::uint8_t>* out,
                   std::string* error, CabCompression compression) {
    out->clear();
    ByteSink sink = [out](const std::uint8_t* data, std::size_t n) { return out->insert(out->end(), data, data + n), true; };
    BytePatcher patch = [out](std::uint64_t at, const std::uint8_t* data, std::size_t n) {
        if (!InBounds(out->size(), at, n)) return false;
        std::copy(data, data + n, out->begin() + static_cast<std::ptrdiff_t>(at));
        return true;
    };
    std::uint64_t written = 0;
    return WriteCabinet(files, setId, compression, sink, patch, &written, error);
}

bool ReadCabinet(std::uint64_t fileSize, const CabFetch& fetch, const CabDataSink& data, Cabinet* cab, std::string* error) {
    *cab = Cabinet();
    Layout l;
    if (!ReadHeader(fileSize, fetch, cab, &l, error)) return false;
    const Source src{cab->size, fetch};
    MszipReader mszip;
    for (std::uint16_t i = 0; i < l.folderCount; ++i)
        if (!ReadFolder(src, l, i, data, &mszip, cab, error)) return false;
    return ReadFileEntries(src, l, cab, error);
}

bool ReadCabinet(const std::vector<std::uint8_t>& bytes, Cabinet* cab, std::string* error) {
    CabFetch fetch = [&bytes](std::uint64_t at, std::size_t n, std::uint8_t* out) {
        if (!InBounds(bytes.size(), at, n)) return false;
        std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + n), out);
        return true;
    };
    std::vector<std::vector<std::uint8_t>> folders;
    std::uint64_t joined = 0;
    CabDataSink join = [&](std::uint16_t folder, const std::uint8_t* data, std::size_t n) {
        joined += n;
        if (joined > std::max<std::uint64_t>(bytes.size(), kCabMaxInflatedBytes))
            return Fail(error, "the folders inflate to more than " + std::to_string(kCabMaxInflatedBytes >> 20) +
                                   " MiB, far past any cabinet for a handheld");
        if (folders.size() <= folder) folders.resize(folder + 1u);
        folders[folder].insert(folders[folder].end(), data, data + n);
        return true;
    };
    if (!ReadCabinet(bytes.size(), fetch, join, cab, error)) return false;
    folders.resize(cab->folderBytes.size());
    cab->folders = std::move(folders);
    return true;
}

std::vector<std::uint8_t> CabFileData(const Cabinet& cab, const CabMember& e) {
    const std::vector<std::uint8_t>& folder = cab.folders[e.folder];
    return std::vector<std::uint8_t>(folder.begin() + e.offset, folder.begin() + e.offset + e.size);
}

void DosDateTime(std::int64_t unixSeconds, std::uint16_t* date, std::uint16_t* time) {
    const std::int64_t first = 315532800;      // 1980-01-01 00:00:00
    const std::int64_t last = 4354819198;      // 2107-12-31 23:59:58
    std::int64_t t = unixSeconds < first ? first : unixSeconds > last ? last : unixSeconds;
    std::int64_t days = t / 86400, secs = t % 86400;
    // Days since 1970 to a civil date (the proleptic Gregorian calendar).
    std::int64_t z = days + 719468, era = z / 146097, doe = z - era * 146097;
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
    std::int64_t day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
    std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    *date = static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
    *time = static_cast<std::uint16_t>(((secs / 3600) << 11) | ((secs / 60 % 60) << 5) | (secs % 60 / 2));
}

std::string DosDateTimeText(std::uint16_t date, std::uint16_t time) {
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980u + (date >> 9), (date >> 5) & 15u, date & 31u,
                  time >> 11, (time >> 5) & 63u, (time & 31u) * 2);
    return text;
}

}  // namespace kelpack
