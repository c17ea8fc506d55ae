// The Microsoft cabinet container (a CFHEADER, its CFFOLDER entries, the
// CFFILE entries, then the CFDATA blocks of each folder) as kelpack writes
// and reads it: one cabinet, not a set, its data stored or compressed with
// MSZIP (each block a deflate stream of its own, behind "CK").
//
// The writer is kelpack's own rather than a library's. Debian's libgcab
// writes cabinets, but only for the Linux build: kelpack is also built for
// Windows with mingw-w64 (the windows preset, shipped by `make dist`), where
// Debian has no libgcab nor the GLib under it, but has zlib. The part a
// device's installer needs is a few hundred lines of plain C++ over zlib's
// deflate, so every build writes the same bytes.
//
// Members are written and read back a block at a time: a member may be a
// file that is never held whole, so a cabinet of a large launcher copy
// costs a few blocks of memory, not the copy.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fileio.h"

namespace kelpack {

// Whether this kelpack writes and reads MSZIP (it is built with zlib).
#if defined(KEL_MSZIP)
constexpr bool kCabHasMszip = true;
#else
constexpr bool kCabHasMszip = false;
#endif

// The CRC-32 (as zip and PNG use it) of `size` bytes, continuing from `crc`
// (0 to start).
std::uint32_t Crc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size);

// The most bytes a data block carries (uncompressed), the format's limit.
constexpr std::uint32_t kCabBlockBytes = 32768;

// The most bytes kelpack stores in one cabinet: the most blocks a folder
// counts (16 bits of them) each full.
constexpr std::uint64_t kCabMaxDataBytes = 65535ull * kCabBlockBytes;

// The most bytes ReadCabinet joins from compressed folders, whatever their
// blocks claim: a few KiB of deflate data can claim gigabytes, and no
// cabinet for a handheld (32 MiB a process) comes near this.
constexpr std::uint64_t kCabMaxInflatedBytes = 256ull << 20;

// How a folder's data is kept: as it is, or MSZIP.
enum CabCompression : std::uint16_t { kCabStored = 0, kCabMszip = 1 };

// A file to put into a cabinet: its bytes held (`data`), or the first
// `size` bytes of the file at `path`, read a piece at a time while the
// cabinet is written.
struct CabFile {
    std::string name;                // as stored: 8-bit text, no NUL, at most 255 bytes
    std::vector<std::uint8_t> data;  // when `path` is empty
    std::string path;
    std::uint64_t size = 0;          // of the file at `path`
    std::uint16_t date = 0;          // its last change, as MS-DOS stores it (DosDateTime)
    std::uint16_t time = 0;
    std::uint16_t attributes = 0;    // _A_RDONLY (0x01), _A_ARCH (0x20), ...
};

// The member's size in bytes, held or in its file.
std::uint64_t CabFileSize(const CabFile& file);

// A file as a cabinet lists it; its bytes lie in the folder's data.
struct CabMember {
    std::string name;
    std::uint32_t size = 0;
    std::uint16_t folder = 0;        // index into Cabinet::folders
    std::uint32_t offset = 0;        // where its bytes start in the folder's data
    std::uint16_t date = 0;
    std::uint16_t time = 0;
    std::uint16_t attributes = 0;
};

// A cabinet read back: its files in stored order and, when ReadCabinet
// joined them, each folder's data.
struct Cabinet {
    std::uint16_t setId = 0;
    std::vector<CabMember> files;
    std::vector<std::vector<std::uint8_t>> folders;
    std::vector<std::uint64_t> folderBytes;  // each folder's data (uncompressed), joined or not
    std::vector<std::uint16_t> compression;  // each folder's method (kCab...)
    std::uint32_t blocks = 0;        // data blocks over all folders
    std::uint64_t joinedBytes = 0;   // the bytes their blocks store, in all
    std::uint32_t size = 0;          // the cabinet's own, as its header gives it
};

// Lays the files out, in the given order, as one cabinet with one folder,
// its data cut into blocks of kCabBlockBytes, each with its checksum, and
// hands it to `sink` a piece at a time. The cabinet's size, in its header,
// is known only once the last block is compressed: `patch` then rewrites
// those bytes. `written` gets the size. False with the reason when the
// files do not fit the format's counts and sizes, a member's file cannot be
// read, or the sink fails (the reason then empty: the sink knows the file).
bool WriteCabinet(const std::vector<CabFile>& files, std::uint16_t setId, CabCompression compression, const ByteSink& sink,
                  const BytePatcher& patch, std::uint64_t* written, std::string* error);

// The same cabinet laid out in memory.
bool LayOutCabinet(const std::vector<CabFile>& files, std::uint16_t setId, std::vector<std::uint8_t>* out,
                   std::string* error, CabCompression compression = kCabStored);

// Fetches `size` bytes of a cabinet at `offset`; false when they are not there.
using CabFetch = std::function<bool(std::uint64_t offset, std::size_t size, std::uint8_t* out)>;

// Takes a folder's data, uncompressed, in order, a block at a time; false stops the read.
using CabDataSink = std::function<bool(std::uint16_t folder, const std::uint8_t* data, std::size_t size)>;

// Reads a single cabinet of `fileSize` bytes through `fetch`, checking
// every offset, size and block checksum and inflating MSZIP blocks (each
// with the one before as its history, as the format has it): a block that
// inflates to other than the size it states, or to more than 32 KiB, is
// refused. Each folder's data goes to `data` (when set) and is not kept.
// False with the reason (a set of cabinets, LZX or Quantum, damage) otherwise.
bool ReadCabinet(std::uint64_t fileSize, const CabFetch& fetch, const CabDataSink& data, Cabinet* cabinet, std::string* error);

// The same over bytes held, each folder's data joined into cabinet->folders;
// compressed folders of more than kCabMaxInflatedBytes are refused.
bool ReadCabinet(const std::vector<std::uint8_t>& bytes, Cabinet* cabinet, std::string* error);

// The bytes of one file of a cabinet read back by ReadCabinet over bytes
// held (it checked they lie in its folder).
std::vector<std::uint8_t> CabFileData(const Cabinet& cabinet, const CabMember& entry);

// "stored" or "MSZIP" (or "Quantum", "LZX", "compression type N").
std::string CabCompressionName(std::uint16_t type);

// The format's checksum of a data block: the 32-bit little-endian words
// XOR-ed into `seed`, a last partial word taken with its bytes reversed.
std::uint32_t CabChecksum(const std::uint8_t* data, std::size_t size, std::uint32_t seed);

// The MS-DOS date and time of a moment given as seconds since 1970 (UTC);
// moments before 1980 or after 2107 are held at those ends.
void DosDateTime(std::int64_t unixSeconds, std::uint16_t* date, std::uint16_t* time);

// "2026-12-10 06:30:02" for an MS-DOS date and time.
std::string DosDateTimeText(std::uint16_t date, std::uint16_t time);

}  // namespace kelpack
