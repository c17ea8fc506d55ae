// What `kelpack cab` installs on a device for a launcher copy: the copy in
// a folder of its own under \Program Files, perhaps the engine in \Windows
// shared with other applications, perhaps a Start menu shortcut, and
// perhaps the .kel file type's registration, as installation data and the
// files of an installation cabinet. Pure: the caller reads and checks the
// files, and writes the cabinet.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cabinet.h"
#include "install_data.h"

namespace kelpack {

// Where the Start menu shortcut goes.
enum class ShortcutFolder { kPrograms, kGames, kNone };

// The folder macros the installer uses: the program's folder lies under
// \Program Files, the shared engine in \Windows, shortcuts in the Start
// menu's Programs or Games folder. The device's installer takes the
// program's folder as %InstallDir% (it is %CE1%\APPNAME unless the user
// installs elsewhere).
constexpr std::uint16_t kCeProgramFiles = 1;
constexpr std::uint16_t kCeWindows = 2;
constexpr std::uint16_t kCeStartPrograms = 11;
constexpr std::uint16_t kCeStartGames = 14;

// The longest path the launcher can know itself by: its module-path query
// has room for 253 characters with the terminator.
constexpr std::size_t kMaxLauncherPath = 252;

// Everything the cabinet is made from.
struct InstallRequest {
    std::string appName;            // the folder's name and the name the device lists
    std::string provider;
    std::string copyName;           // the launcher copy's file name, "Game.exe"
    std::vector<std::uint8_t> copy;
    std::int64_t copyTime = 0;      // its last change, seconds since 1970
    bool hasEngine = false;
    std::vector<std::uint8_t> engine;
    std::int64_t engineTime = 0;
    ShortcutFolder shortcut = ShortcutFolder::kPrograms;
    bool registerFileType = false;
};

// Checks text that becomes a name on the device: the application name (a
// folder and a shortcut's name), the provider or the copy's file name.
// Printable ASCII, since the installer reads its 8-bit text in whatever
// code page the device has; no character a file name may not hold (for all
// but the provider); no leading or trailing space or dot. False with the reason.
bool CheckDeviceName(const std::string& text, bool isFileName, std::string* error);

// The .kel registration the launcher writes when it starts with a blank
// command line, for a copy installed in the program's folder as
// `copyName`: its own rows (filetype::RegistrationRows) for the path
// "%InstallDir%\copyName", which the installer makes the real path. As
// (key under HKEY_CLASSES_ROOT, default value) pairs in the launcher's order.
std::vector<std::pair<std::string, std::string>> InstalledRegistrationRows(const std::string& copyName);

// The installation data and the cabinet's files, in the cabinet's order:
// the data first (".000"), then the others by descending number. False with
// the reason when a name is refused or the data cannot be laid out.
bool BuildInstall(const InstallRequest& request, CeInstall* install, std::vector<CabFile>* files, std::string* error);

}  // namespace kelpack
