// Reading PE32 and PE32+ images: the headers, the section table and the
// resource directory. Everything is checked against the file's bytes, since
// the input may be any file a user points the tool at, damaged ones included.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "resources.h"

namespace kelpack {

// One entry of the section table.
struct PeSection {
    std::string name;                  // up to 8 bytes, NUL padding removed
    std::uint32_t virtual_size = 0;    // bytes mapped in memory
    std::uint32_t virtual_address = 0; // RVA of the section
    std::uint32_t raw_size = 0;        // SizeOfRawData
    std::uint32_t raw_offset = 0;      // PointerToRawData
    std::uint32_t characteristics = 0; // IMAGE_SCN_* flags
};

// One data directory entry (for the security entry the address is a file offset).
struct PeDataDir {
    std::uint32_t address = 0;  // RVA, or file offset for the certificate table
    std::uint32_t size = 0;     // bytes
};

// Data directory indexes that the tool reads or writes.
constexpr int kDirResource = 2;
constexpr int kDirSecurity = 4;

// A parsed image together with its bytes; offsets are file offsets.
struct PeImage {
    std::vector<std::uint8_t> bytes;      // the whole file
    std::uint32_t pe_offset = 0;          // offset of "PE\0\0"
    std::uint16_t machine = 0;            // COFF machine type
    bool pe32plus = false;                // optional header magic 0x20B
    std::uint32_t optional_offset = 0;    // offset of the optional header
    std::uint16_t optional_size = 0;      // SizeOfOptionalHeader
    std::uint32_t section_table_offset = 0;
    std::uint32_t symbol_table_offset = 0;  // PointerToSymbolTable (0: none)
    std::uint32_t section_alignment = 0;
    std::uint32_t file_alignment = 0;
    std::uint32_t size_of_headers = 0;
    std::uint32_t size_of_image = 0;
    std::uint32_t checksum = 0;
    std::uint32_t dir_count = 0;          // data directory entries present (at most 16)
    std::uint32_t dir_offset = 0;         // offset of the data directory array
    std::vector<PeDataDir> dirs;          // dir_count entries
    std::vector<PeSection> sections;      // in table order
};

// Parses headers and the section table. On failure returns false and says
// why in `error` (e.g. "not a PE image: no MZ signature").
bool parse_pe(std::vector<std::uint8_t> bytes, PeImage* image, std::string* error);

// Reads the resource directory into `list` (empty when the image has none).
// Returns false, with the reason, for a damaged directory.
bool read_resources(const PeImage& image, ResourceList* list, std::string* error);

// File offset of `size` bytes at `rva`, when they lie wholly inside one
// section's raw data; false otherwise.
bool rva_to_offset(const PeImage& image, std::uint32_t rva, std::uint32_t size, std::uint32_t* offset);

// Index of the section whose virtual range holds `rva`, or -1.
int section_of_rva(const PeImage& image, std::uint32_t rva);

// A short name for a machine type ("x64", "x86", "ARM Thumb", ...).
std::string machine_name(std::uint16_t machine);

// The image checksum as the loader verifies it: 16-bit sum with carries
// folded, the checksum field itself counted as zero, plus the file length.
std::uint32_t pe_checksum(const std::vector<std::uint8_t>& bytes, std::uint32_t checksum_offset);

// File offset of the CheckSum field.
inline std::uint32_t checksum_offset(const PeImage& image) { return image.optional_offset + 64; }

}  // namespace kelpack
