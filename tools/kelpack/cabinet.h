// The Microsoft cabinet container (a CFHEADER, its CFFOLDER entries, the
// CFFILE entries, then the CFDATA blocks of each folder) as kelpack writes
// and reads it: one cabinet, not a set, its data stored without compression.
//
// The writer is kelpack's own rather than a library's. Debian's libgcab
// writes cabinets, but only for the Linux build: kelpack is also built for
// Windows with mingw-w64 (the windows preset, shipped by `make dist`), where
// Debian has no libgcab nor the GLib under it. The part a device's
// installer needs, uncompressed storage, is a few hundred lines of plain
// C++, so every build writes the same bytes with no second dependency.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelpack {

// The most bytes a data block carries, the format's limit.
constexpr std::uint32_t kCabBlockBytes = 32768;

// The most bytes kelpack stores in one cabinet: the most blocks a folder
// counts (16 bits of them) each full.
constexpr std::uint64_t kCabMaxDataBytes = 65535ull * kCabBlockBytes;

// A file to put into a cabinet.
struct CabFile {
    std::string name;                // as stored: 8-bit text, no NUL, at most 255 bytes
    std::vector<std::uint8_t> data;
    std::uint16_t date = 0;          // its last change, as MS-DOS stores it (DosDateTime)
    std::uint16_t time = 0;
    std::uint16_t attributes = 0;    // _A_RDONLY (0x01), _A_ARCH (0x20), ...
};

// A file as a cabinet lists it; its bytes lie in the folder's data.
struct CabEntry {
    std::string name;
    std::uint32_t size = 0;
    std::uint16_t folder = 0;        // index into Cabinet::folders
    std::uint32_t offset = 0;        // where its bytes start in the folder's data
    std::uint16_t date = 0;
    std::uint16_t time = 0;
    std::uint16_t attributes = 0;
};

// A cabinet read back: its files in stored order and each folder's data,
// joined from its blocks.
struct Cabinet {
    std::uint16_t setId = 0;
    std::vector<CabEntry> files;
    std::vector<std::vector<std::uint8_t>> folders;
    std::uint32_t blocks = 0;        // data blocks over all folders
    std::uint64_t joinedBytes = 0;   // their data, in all
};

// Lays the files out, in the given order, as one cabinet with one folder
// stored uncompressed in blocks of kCabBlockBytes, each with its checksum.
// False with the reason when they do not fit the format's counts and sizes.
bool WriteCabinet(const std::vector<CabFile>& files, std::uint16_t setId, std::vector<std::uint8_t>* out,
                  std::string* error);

// Reads a single cabinet whose folders are stored uncompressed, checking
// every offset, size and block checksum; false with the reason (a set of
// cabinets, a compressed folder, damage) otherwise.
bool ReadCabinet(const std::vector<std::uint8_t>& bytes, Cabinet* cabinet, std::string* error);

// The bytes of one file of a cabinet read back (ReadCabinet checked they lie in its folder).
std::vector<std::uint8_t> CabFileData(const Cabinet& cabinet, const CabEntry& entry);

// The format's checksum of a data block: the 32-bit little-endian words
// XOR-ed into `seed`, a last partial word taken with its bytes reversed.
std::uint32_t CabChecksum(const std::uint8_t* data, std::size_t size, std::uint32_t seed);

// The MS-DOS date and time of a moment given as seconds since 1970 (UTC);
// moments before 1980 or after 2107 are held at those ends.
void DosDateTime(std::int64_t unixSeconds, std::uint16_t* date, std::uint16_t* time);

// "2026-12-10 06:30:02" for an MS-DOS date and time.
std::string DosDateTimeText(std::uint16_t date, std::uint16_t time);

}  // namespace kelpack
