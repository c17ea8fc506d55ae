#include "cabinet.h"

#include <algorithm>
#include <cstdio>

#include "byteio.h"

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

bool Fail(std::string* error, const std::string& why) {
    *error = why;
    return false;
}

std::string CompressionName(std::uint16_t type) {
    switch (type & 0x000F) {
        case 1: return "MSZIP";
        case 2: return "Quantum";
        case 3: return "LZX";
        default: return "compression type " + std::to_string(type & 0x000F);
    }
}

// The part of a cabinet after the header: its folders, then the files that
// name them. `base` is where the folder entries start.
struct Layout {
    std::uint32_t folderReserve = 0;  // bytes of per-folder reserve
    std::uint32_t blockReserve = 0;   // bytes of per-block reserve
    std::uint32_t folderTable = 0;
    std::uint16_t folderCount = 0;
    std::uint16_t fileCount = 0;
    std::uint32_t fileTable = 0;
};

bool ReadHeader(const std::vector<std::uint8_t>& b, std::uint32_t* size, Cabinet* cab, Layout* l, std::string* error) {
    if (b.size() < kHeaderBytes || b[0] != 'M' || b[1] != 'S' || b[2] != 'C' || b[3] != 'F')
        return Fail(error, "not a cabinet: no MSCF signature");
    *size = GetU32(b, 8);
    if (*size > b.size())
        return Fail(error, "the cabinet says it is " + std::to_string(*size) + " bytes, but the file has only " +
                               std::to_string(b.size()));
    if (*size < kHeaderBytes) return Fail(error, "the cabinet says it is " + std::to_string(*size) + " bytes, less than its header");
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
        std::uint16_t headerReserve = 0;
        if (!ReadU16(b, at, &headerReserve) || !InBounds(*size, at, 4)) return Fail(error, "the cabinet's header ends early");
        l->folderReserve = b[at + 2];
        l->blockReserve = b[at + 3];
        at += 4 + static_cast<std::uint64_t>(headerReserve);
    }
    if (!InBounds(*size, at, static_cast<std::uint64_t>(l->folderCount) * (kFolderBytes + l->folderReserve)))
        return Fail(error, "the cabinet's " + std::to_string(l->folderCount) + " folder entries run past its end");
    l->folderTable = static_cast<std::uint32_t>(at);
    return true;
}

// Joins a folder's blocks into its data, checking each block's sizes and checksum.
bool ReadFolder(const std::vector<std::uint8_t>& b, std::uint32_t size, const Layout& l, std::uint16_t index,
                Cabinet* cab, std::string* error) {
    std::uint64_t entry = l.folderTable + static_cast<std::uint64_t>(index) * (kFolderBytes + l.folderReserve);
    std::uint32_t at = GetU32(b, entry);
    std::uint16_t blocks = GetU16(b, entry + 4), type = GetU16(b, entry + 6);
    std::string folder = "folder " + std::to_string(index + 1);
    if ((type & 0x000F) != 0)
        return Fail(error, folder + " is compressed (" + CompressionName(type) +
                               "); kelpack reads cabinets stored without compression, as it writes them");
    std::vector<std::uint8_t> data;
    std::uint64_t pos = at;
    for (std::uint32_t k = 0; k < blocks; ++k) {
        std::string block = folder + ", data block " + std::to_string(k + 1);
        if (!InBounds(size, pos, kBlockHeaderBytes + static_cast<std::uint64_t>(l.blockReserve)))
            return Fail(error, block + " lies past the cabinet's end");
        std::uint32_t sum = GetU32(b, pos);
        std::uint16_t stored = GetU16(b, pos + 4), plain = GetU16(b, pos + 6);
        if (stored != plain) return Fail(error, block + " stores " + std::to_string(stored) + " bytes for " +
                                                    std::to_string(plain) + ", in a folder without compression");
        if (plain > kCabBlockBytes) return Fail(error, block + " holds " + std::to_string(plain) + " bytes, more than 32768");
        std::uint64_t from = pos + kBlockHeaderBytes + l.blockReserve;
        if (!InBounds(size, from, stored)) return Fail(error, block + " runs past the cabinet's end");
        // A stored checksum of 0 means none was computed.
        if (sum != 0 && CabChecksum(&b[pos + 4], 4, CabChecksum(b.data() + from, stored, 0)) != sum)
            return Fail(error, block + ": its checksum does not match its bytes");
        // Blocks lie one after another: more data than the cabinet has bytes
        // means blocks (or folders) overlap, which would also let a small
        // file claim any amount of memory.
        if (cab->joinedBytes + data.size() + stored > size)
            return Fail(error, block + " overlaps data already read: the folders' blocks hold more bytes than the cabinet");
        data.insert(data.end(), b.begin() + static_cast<std::ptrdiff_t>(from),
                    b.begin() + static_cast<std::ptrdiff_t>(from + stored));
        pos = from + stored;
    }
    cab->blocks += blocks;
    cab->joinedBytes += data.size();
    cab->folders.push_back(std::move(data));
    return true;
}

bool ReadFileEntries(const std::vector<std::uint8_t>& b, std::uint32_t size, const Layout& l, Cabinet* cab,
                     std::string* error) {
    std::uint64_t at = l.fileTable;
    for (std::uint32_t i = 0; i < l.fileCount; ++i) {
        std::string what = "file entry " + std::to_string(i + 1);
        if (!InBounds(size, at, kFileBytes)) return Fail(error, what + " lies past the cabinet's end");
        CabEntry e;
        e.size = GetU32(b, at);
        e.offset = GetU32(b, at + 4);
        e.folder = GetU16(b, at + 8);
        e.date = GetU16(b, at + 10);
        e.time = GetU16(b, at + 12);
        e.attributes = GetU16(b, at + 14);
        at += kFileBytes;
        while (at < size && b[at] != 0 && e.name.size() <= kMaxNameBytes) e.name += static_cast<char>(b[at++]);
        if (at >= size || b[at] != 0) return Fail(error, what + ": its name has no end within 256 bytes and the cabinet");
        ++at;
        if (e.folder >= 0xFFFD)
            return Fail(error, what + " (\"" + e.name + "\") continues from or into another cabinet of a set");
        if (e.folder >= cab->folders.size())
            return Fail(error, what + " (\"" + e.name + "\") names folder " + std::to_string(e.folder + 1) + " of " +
                                   std::to_string(cab->folders.size()));
        if (!InBounds(cab->folders[e.folder].size(), e.offset, e.size))
            return Fail(error, what + " (\"" + e.name + "\"): its " + std::to_string(e.size) + " bytes at " +
                                   std::to_string(e.offset) + " run past its folder's " +
                                   std::to_string(cab->folders[e.folder].size()) + " bytes of data");
        cab->files.push_back(e);
    }
    return true;
}

}  // namespace

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

bool WriteCabinet(const std::vector<CabFile>& files, std::uint16_t setId, std::vector<std::uint8_t>* out,
                  std::string* error) {
    if (files.size() > 0xFFFF) return Fail(error, "a cabinet holds at most 65535 files, not " + std::to_string(files.size()));
    std::uint64_t dataBytes = 0, fileTableBytes = 0;
    for (const CabFile& f : files) {
        if (f.name.empty() || f.name.size() > kMaxNameBytes || f.name.find('\0') != std::string::npos)
            return Fail(error, "\"" + f.name + "\" cannot be a name in a cabinet: 1 to 255 bytes, no NUL");
        dataBytes += f.data.size();
        fileTableBytes += kFileBytes + f.name.size() + 1;
    }
    if (dataBytes > kCabMaxDataBytes)
        return Fail(error, "the files come to " + std::to_string(dataBytes) + " bytes, more than the " +
                               std::to_string(kCabMaxDataBytes) + " one cabinet folder holds");
    std::uint64_t blocks = (dataBytes + kCabBlockBytes - 1) / kCabBlockBytes;
    std::uint64_t dataStart = kHeaderBytes + kFolderBytes + fileTableBytes;
    std::uint64_t total = dataStart + blocks * kBlockHeaderBytes + dataBytes;
    if (total > 0xFFFFFFFFull) return Fail(error, "the cabinet would be " + std::to_string(total) + " bytes, more than 4 GiB");

    std::vector<std::uint8_t>& b = *out;
    b.clear();
    b.reserve(static_cast<std::size_t>(total));
    b.insert(b.end(), {'M', 'S', 'C', 'F'});
    AppendU32(&b, 0);
    AppendU32(&b, static_cast<std::uint32_t>(total));
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
    AppendU16(&b, 0);  // stored without compression

    std::uint32_t offset = 0;
    for (const CabFile& f : files) {
        AppendU32(&b, static_cast<std::uint32_t>(f.data.size()));
        AppendU32(&b, offset);
        AppendU16(&b, 0);  // folder
        AppendU16(&b, f.date);
        AppendU16(&b, f.time);
        AppendU16(&b, f.attributes);
        b.insert(b.end(), f.name.begin(), f.name.end());
        b.push_back(0);
        offset += static_cast<std::uint32_t>(f.data.size());
    }

    // The folder's data is the files one after another, cut into blocks
    // that ignore where one file ends and the next begins.
    std::vector<std::uint8_t> block;
    block.reserve(kCabBlockBytes);
    auto flush = [&]() {
        std::uint8_t sizes[4] = {static_cast<std::uint8_t>(block.size()), static_cast<std::uint8_t>(block.size() >> 8),
                                 static_cast<std::uint8_t>(block.size()), static_cast<std::uint8_t>(block.size() >> 8)};
        AppendU32(&b, CabChecksum(sizes, 4, CabChecksum(block.data(), block.size(), 0)));
        b.insert(b.end(), sizes, sizes + 4);
        b.insert(b.end(), block.begin(), block.end());
        block.clear();
    };
    for (const CabFile& f : files) {
        std::size_t at = 0;
        while (at < f.data.size()) {
            std::size_t take = std::min<std::size_t>(kCabBlockBytes - block.size(), f.data.size() - at);
            block.insert(block.end(), f.data.begin() + static_cast<std::ptrdiff_t>(at),
                         f.data.begin() + static_cast<std::ptrdiff_t>(at + take));
            at += take;
            if (block.size() == kCabBlockBytes) flush();
        }
    }
    if (!block.empty()) flush();
    return true;
}

bool ReadCabinet(const std::vector<std::uint8_t>& bytes, Cabinet* cab, std::string* error) {
    *cab = Cabinet();
    std::uint32_t size = 0;
    Layout l;
    if (!ReadHeader(bytes, &size, cab, &l, error)) return false;
    for (std::uint16_t i = 0; i < l.folderCount; ++i)
        if (!ReadFolder(bytes, size, l, i, cab, error)) return false;
    if (!ReadFileEntries(bytes, size, l, cab, error)) return false;
    return true;
}

std::vector<std::uint8_t> CabFileData(const Cabinet& cab, const CabEntry& e) {
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
