// Reading PE32 and PE32+ images: the headers, the section table and the
// resource directory. Everything is checked against the file's bytes, since
// the input may be any file a user points the tool at, damaged ones included.
#pragma once

#include <cstdint>
#include <memory>
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
constexpr std::uint16_t kMachineArmThumb = 0x1c2;

// COFF characteristics and subsystems the checks read.
constexpr std::uint16_t kFileDll = 0x2000;          // IMAGE_FILE_DLL
constexpr std::uint16_t kSubsystemWindowsGui = 2;   // a desktop Windows program
constexpr std::uint16_t kSubsystemWindowsCeGui = 9; // a Windows CE program

// Data directory indexes that the tool reads or writes.
constexpr int kDirExport = 0;
constexpr int kDirResource = 2;
constexpr int kDirSecurity = 4;

// A PE file's bytes as its readers look at them: held whole (bytes handed
// in), or read from the file a page at a time as they are looked at. A
// launcher copy's application package can be nearly all of the file and is
// copied from the file where it is needed, so a copy read that way never
// holds it.
class PeBytes {
public:
    PeBytes() = default;
    explicit PeBytes(std::vector<std::uint8_t> whole);
    // The file at `path`, which has `size` bytes, read as it is looked at.
    PeBytes(const std::string& path, std::uint64_t size);

    std::uint64_t size() const { return size_; }
    // The byte at `at`: 0 past the end, and where the file could not be read
    // (failure() then says why).
    std::uint8_t operator[](std::uint64_t at) const;
    // Appends `count` bytes at `offset` to `out`; false past the end or when
    // the file cannot be read.
    bool Append(std::uint64_t offset, std::uint64_t count, std::vector<std::uint8_t>* out) const;
    // Why a read of the file failed; empty when none did.
    std::string failure() const;
    // The bytes when they are held whole; empty when read from a file.
    const std::vector<std::uint8_t>& whole() const { return whole_; }

private:
    struct File;
    std::vector<std::uint8_t> whole_;
    std::shared_ptr<File> file_;
    std::uint64_t size_ = 0;
};

inline std::uint16_t GetU16(const PeBytes& b, std::uint64_t off) {
    return static_cast<std::uint16_t>(b[off] | (b[off + 1] << 8));
}
inline std::uint32_t GetU32(const PeBytes& b, std::uint64_t off) {
    return static_cast<std::uint32_t>(GetU16(b, off)) | (static_cast<std::uint32_t>(GetU16(b, off + 2)) << 16);
}

// A parsed image together with its bytes; offsets are file offsets.
struct PeImage {
    PeBytes bytes;                        // the file's bytes, held or read as looked at
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
bool ParsePe(PeBytes bytes, PeImage* image, std::string* error);
inline bool ParsePe(std::vector<std::uint8_t> bytes, PeImage* image, std::string* error) {
    return ParsePe(PeBytes(std::move(bytes)), image, error);
}

// Reads the resource directory into `list` (empty when the image has none).
// Returns false, with the reason, for a damaged directory.
bool ReadResources(const PeImage& image, ResourceList* list, std::string* error);

// The same without copying any leaf's bytes: each leaf's source is external,
// its offset and size those of its bytes in image.bytes (path empty).
bool ReadResourceEntries(const PeImage& image, ResourceList* list, std::string* error);

// Copies the bytes of the leaves ReadResourceEntries left in the image into
// their `data`, except those of `keep` type, which stay external. False,
// with the reason, when the image's file cannot be read.
bool LoadLeafData(const PeImage& image, ResourceList* list, const ResId* keep, std::string* error);

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
