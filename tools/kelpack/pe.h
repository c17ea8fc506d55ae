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
    std::uint32_t virtualSize = 0;     // bytes mapped in memory
    std::uint32_t virtualAddress = 0;  // RVA of the section
    std::uint32_t rawSize = 0;         // SizeOfRawData
    std::uint32_t rawOffset = 0;       // PointerToRawData
    std::uint32_t characteristics = 0; // IMAGE_SCN_* flags
};

// One data directory entry (for the security entry the address is a file offset).
struct PeDataDir {
    std::uint32_t address = 0;  // RVA, or file offset for the certificate table
    std::uint32_t size = 0;     // bytes
};

// COFF machine types the tool names in its checks (IMAGE_FILE_MACHINE_*).
constexpr std::uint16_t kMachineX86 = 0x14c;
constexpr std::uint16_t kMachineX64 = 0x8664;
constexpr std::uint16_t kMachineArm = 0x1c0;  // the devices' processor

// COFF characteristics and subsystems the checks read.
constexpr std::uint16_t kFileDll = 0x2000;          // IMAGE_FILE_DLL
constexpr std::uint16_t kSubsystemWindowsGui = 2;   // a desktop Windows program
constexpr std::uint16_t kSubsystemWindowsCeGui = 9; // a Windows CE program

// Data directory indexes that the tool reads or writes.
constexpr int kDirExport = 0;
constexpr int kDirResource = 2;
constexpr int kDirSecurity = 4;

// A parsed image together with its bytes; offsets are file offsets.
struct PeImage {
    std::vector<std::uint8_t> bytes;      // the whole file
    std::uint32_t peOffset = 0;           // offset of "PE\0\0"
    std::uint16_t machine = 0;            // COFF machine type
    std::uint16_t characteristics = 0;    // COFF IMAGE_FILE_* flags
    std::uint16_t subsystem = 0;          // optional header Subsystem
    bool pe32plus = false;                // optional header magic 0x20B
    std::uint32_t optionalOffset = 0;     // offset of the optional header
    std::uint16_t optionalSize = 0;       // SizeOfOptionalHeader
    std::uint32_t sectionTableOffset = 0;
    std::uint32_t symbolTableOffset = 0;  // PointerToSymbolTable (0: none)
    std::uint32_t sectionAlignment = 0;
    std::uint32_t fileAlignment = 0;
    std::uint32_t sizeOfHeaders = 0;
    std::uint32_t sizeOfImage = 0;
    std::uint32_t checksum = 0;
    std::uint32_t dirCount = 0;           // data directory entries present (at most 16)
    std::uint32_t dirOffset = 0;          // offset of the data directory array
    std::vector<PeDataDir> dirs;          // dirCount entries
    std::vector<PeSection> sections;      // in table order
};

// Parses headers and the section table. On failure returns false and says
// why in `error` (e.g. "not a PE image: no MZ signature").
bool ParsePe(std::vector<std::uint8_t> bytes, PeImage* image, std::string* error);

// Reads the resource directory into `list` (empty when the image has none).
// Returns false, with the reason, for a damaged directory.
bool ReadResources(const PeImage& image, ResourceList* list, std::string* error);

// The same without copying any leaf's bytes: each leaf's source is external,
// its offset and size those of its bytes in image.bytes (path empty).
bool ReadResourceEntries(const PeImage& image, ResourceList* list, std::string* error);

// Copies the bytes of the leaves ReadResourceEntries left in the image into
// their `data`, except those of `keep` type, which stay external.
void LoadLeafData(const PeImage& image, ResourceList* list, const ResId* keep);

// The names the image exports, in its name table's order (empty when it
// exports none). False, with the reason, for a damaged export directory.
bool ReadExportNames(const PeImage& image, std::vector<std::string>* names, std::string* error);

// File offset of `size` bytes at `rva`, when they lie wholly inside one
// section's raw data; false otherwise.
bool RvaToOffset(const PeImage& image, std::uint32_t rva, std::uint32_t size, std::uint32_t* offset);

// Index of the section whose virtual range holds `rva`, or -1.
int SectionOfRva(const PeImage& image, std::uint32_t rva);

// A short name for a machine type ("x64", "x86", "ARM Thumb", ...).
std::string MachineName(std::uint16_t machine);

// The image checksum as the loader verifies it: 16-bit sum with carries
// folded, the checksum field itself counted as zero, plus the file length.
std::uint32_t PeChecksum(const std::vector<std::uint8_t>& bytes, std::uint32_t checksumOffset);

// The same over a file's bytes handed in piece by piece, in order, for an
// output that is never held whole.
class PeChecksumSum {
public:
    explicit PeChecksumSum(std::uint64_t checksumOffset) : field_(checksumOffset) {}
    void Add(const std::uint8_t* data, std::size_t size);
    std::uint32_t Finish() const;

private:
    std::uint64_t field_;
    std::uint64_t at_ = 0;       // bytes added so far
    std::uint64_t sum_ = 0;
    std::uint32_t low_ = 0;      // the first byte of a word whose second is still to come
};

// File offset of the CheckSum field.
inline std::uint32_t ChecksumOffset(const PeImage& image) { return image.optionalOffset + 64; }

}  // namespace kelpack
