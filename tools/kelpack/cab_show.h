// `kelpack show` of an installation cabinet: what the device's installer
// makes of it (the names it lists, the devices it takes, each file and
// where it goes, the registry values, the shortcuts), and for each program
// inside, what `show` says of a launcher copy.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "install_data.h"
#include "outcome.h"
#include "copy_report.h"

namespace kelpack {

// One file of the cabinet and where the installer puts it.
struct ShownCabFile {
    std::string member;             // "0000Game.001"
    std::uint32_t size = 0;
    std::string modified;           // "2026-12-10 06:22:34"
    bool installed = false;         // a FILES entry gives it a place
    std::string destination;        // "%CE1%\Game\Game.exe"
    std::string onDevice;           // "\Program Files\Game\Game.exe", where the installer puts it by default
    std::uint32_t flags = 0;
};

// One program inside, shown as `show` shows a launcher copy.
struct ShownCabProgram {
    std::string destination;
    std::string member;
    bool readable = false;          // it parses as a PE image with a resource tree
    std::string problem;            // why not
    ShowReport report;
};

// Everything `show` reports about a cabinet.
struct CabReport {
    std::string file;
    std::uint64_t size = 0;
    std::uint32_t blocks = 0;
    std::string compression;        // empty: stored; else the method, "MSZIP"
    std::string dataMember;         // the member holding the installation data
    CeInstall install;
    std::vector<ShownCabFile> files;
    std::vector<ShownCabProgram> programs;
    std::vector<std::string> warnings;
};

// True when the file starts as a cabinet does ("MSCF").
bool LooksLikeCabinet(const std::string& path);

// Reads the cabinet at `path`; false, with the reason naming the file
// failed into `outcome` (kExitRead: unreadable; kExitBadImage: no cabinet
// kelpack reads, no installation data in it, or data the cabinet does not
// match: a file it installs missing, a member it does not name, an entry
// naming a folder, file or key it does not have).
bool MakeCabReport(const std::string& path, CabReport* report, Outcome* outcome);

// What a file's flags tell the installer, in words: "shared, never over a newer file".
std::string CeFileFlagsText(std::uint32_t flags);

// A registry value's data as people read it: text in quotes, a DWORD as a
// number, the rest as hex bytes.
std::string CeValueText(const CeRegValue& value);

// The report as text for people, and as one JSON object.
std::string CabText(const CabReport& report);
std::string CabJson(const CabReport& report);

}  // namespace kelpack
