// The installation data of a Windows CE installation cabinet: the file that
// ends in ".000" and comes first in the cabinet, which tells the device's
// installer what to call the program, which devices take it, where each
// file of the cabinet goes, which registry values to write and which
// shortcuts to make. Held here with its texts resolved; the writer numbers
// the strings itself and the reader resolves them, so that a record read
// back equals the one written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelpack {

// A folder on the device: its path's pieces, joined with "\" there. The
// first may be a folder macro: "%CE1%" (\Program Files), "%CE2%"
// (\Windows), ..., "%CE17%", or "%InstallDir%".
struct CeDir {
    std::uint16_t id = 0;
    std::vector<std::string> path;
};

// What the installer does with a file it finds already there, and whether
// other packages share it.
constexpr std::uint32_t kCeFileShared = 0x80000000;           // reference-counted: kept while a package uses it
constexpr std::uint32_t kCeFileAlwaysOverwrite = 0x40000000;
constexpr std::uint32_t kCeFileKeepNewer = 0x20000000;        // never replaces a newer file
constexpr std::uint32_t kCeFileKeepExisting = 0x00000010;     // never replaces an existing file
constexpr std::uint32_t kCeFileNoSkip = 0x00000002;           // a file it cannot copy fails the installation
constexpr std::uint32_t kCeFileWarnSkip = 0x00000001;

// A file of the cabinet: its member is named "XXXXXXXX.NNN", NNN its id.
struct CeFile {
    std::uint16_t id = 0;
    std::uint16_t dir = 0;           // a CeDir id
    std::uint32_t flags = 0;         // kCeFile...
    std::string name;                // the installed file's name
};

// Registry roots.
constexpr std::uint16_t kCeRootClassesRoot = 1;
constexpr std::uint16_t kCeRootCurrentUser = 2;
constexpr std::uint16_t kCeRootLocalMachine = 3;
constexpr std::uint16_t kCeRootUsers = 4;

// A registry key the installer creates: a root and the key's path pieces.
struct CeRegKey {
    std::uint16_t id = 0;
    std::uint16_t root = 0;          // kCeRoot...
    std::vector<std::string> path;
};

// Registry value types (the low half may carry kCeRegKeepExisting).
constexpr std::uint32_t kCeRegString = 0x00000000;
constexpr std::uint32_t kCeRegMultiString = 0x00010000;
constexpr std::uint32_t kCeRegBinary = 0x00000001;
constexpr std::uint32_t kCeRegDword = 0x00010001;
constexpr std::uint32_t kCeRegKeepExisting = 0x00000002;

// A registry value the installer writes.
struct CeRegValue {
    std::uint16_t id = 0;
    std::uint16_t key = 0;           // a CeRegKey id
    bool substitute = false;         // %InstallDir% and %CEn% in the data are replaced on the device
    std::uint32_t type = kCeRegString;
    std::string name;                // empty: the key's default value
    std::vector<std::uint8_t> data;  // a string's 8-bit text with its NUL; a DWORD's 4 bytes
};

// A shortcut the installer makes.
struct CeLink {
    std::uint16_t id = 0;
    std::uint16_t base = 0;          // the folder it goes in: 0 %InstallDir%, n %CEn%
    std::uint16_t target = 0;        // a CeFile id, or a CeDir id when !toFile
    bool toFile = true;
    std::vector<std::string> path;   // its name's pieces, e.g. {"Game.lnk"}
};

// The processor value of ARM devices.
constexpr std::uint32_t kCeProcessorArm = 2577;

// Everything the installation data holds.
struct CeInstall {
    std::string appName;             // shown, after the provider, in the device's list of programs
    std::string provider;
    std::uint32_t processor = 0;     // 0: any
    std::uint32_t minMajor = 0, minMinor = 0;  // CE versions; 0 is no limit
    std::uint32_t maxMajor = 0, maxMinor = 0;
    std::uint32_t minBuild = 0, maxBuild = 0;
    std::vector<std::string> unsupported;  // platform names the cabinet refuses
    std::vector<CeDir> dirs;
    std::vector<CeFile> files;
    std::vector<CeRegKey> keys;
    std::vector<CeRegValue> values;
    std::vector<CeLink> links;
};

// The name of the cabinet member that holds file `id` installed as `name`:
// up to eight characters of the name's stem (letters, digits, "_" and "-"),
// padded on the left with "0", a dot and the id in three digits.
std::string CeMemberName(const std::string& name, std::uint16_t id);

// Lays the installation data out; false with the reason when a text or a
// count does not fit the format (16-bit lengths, offsets and counts, no NUL
// inside a text) or a record names an id no record has.
bool LayOutInstallData(const CeInstall& install, std::vector<std::uint8_t>* out, std::string* error);

// Reads installation data back, checking every offset, length and id it
// follows; false with the reason otherwise.
bool ReadInstallData(const std::vector<std::uint8_t>& bytes, CeInstall* install, std::string* error);

// A path's pieces joined with "\".
std::string JoinCePath(const std::vector<std::string>& pieces);

// "HKEY_CLASSES_ROOT" and the like for a root; "root 7" for another value.
std::string CeRootName(std::uint16_t root);

// The folder macro's place on a Pocket PC ("\Program Files" for "%CE1%");
// empty for one the device alone knows.
std::string CeFolderMeaning(const std::string& macro);

// A path's place on a Pocket PC: its first piece, a folder macro, put as
// the device has it, %InstallDir% as the installer's default for the
// application (\Program Files\APPNAME); empty when the device alone knows it.
std::string CeDevicePath(const std::vector<std::string>& path, const std::string& appName);

}  // namespace kelpack
