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

// The longest path on the device (MAX_PATH less its NUL), shortcuts and
// paths in registry values included.
constexpr std::size_t kMaxDevicePath = 259;

// The longest provider and application name the vendor's tools take; the
// device lists and registers the package for removal as "PROVIDER NAME".
constexpr std::size_t kMaxProviderChars = 30;
constexpr std::size_t kMaxAppNameChars = 40;

// A file the cabinet carries: its bytes held, or the file at `path` of
// `size` bytes, read a block at a time while the cabinet is written.
struct MemberSource {
    std::vector<std::uint8_t> data;
    std::string path;
    std::uint64_t size = 0;
    std::int64_t time = 0;          // its last change, seconds since 1970: the date the member carries
};

// Everything the cabinet is made from.
struct InstallRequest {
    std::string appName;            // the folder's name and the name the device lists
    std::string provider;
    std::string copyName;           // the launcher copy's file name, "Game.exe"
    MemberSource copy;
    bool hasEngine = false;
    MemberSource engine;
    ShortcutFolder shortcut = ShortcutFolder::kPrograms;
    // The runtime: the launcher without an application, installed beside
    // the shared engine in \Windows as the handler of .kel files, which it
    // registers. Its removal takes the registration with the handler.
    bool runtime = false;
};

// What a text on the device is: each kind has its own rules.
enum class DeviceText { kProvider, kAppName, kFileName };

// Checks text that becomes a name on the device: the provider, the
// application name (also a folder's and a shortcut's name) or the copy's
// file name. Printable ASCII, since the installer reads its 8-bit text in
// whatever code page the device has; none of \ / : * ? " < > | & in the
// provider and the name (the vendor's tools refuse them), nor a character
// a file name may not hold, nor %, in the name and the file name; at most
// kMaxProviderChars and kMaxAppNameChars; no leading or trailing space (or
// dot, for a name that is a file's). False with the reason.
bool CheckDeviceText(const std::string& text, DeviceText kind, std::string* error);

// The .kel registration the launcher writes when it starts with a blank
// command line, for a launcher installed in `folder` (a macro such as
// "%InstallDir%" or "%CE2%") as `fileName`: its own rows
// (filetype::RegistrationRows) for that path, which the installer makes the
// real one. As (key under HKEY_CLASSES_ROOT, default value) pairs in the
// launcher's order.
std::vector<std::pair<std::string, std::string>> InstalledRegistrationRows(const std::string& folder,
                                                                           const std::string& fileName);

// The name the runtime's launcher is installed as beside the engine
// ("Kel.exe" beside "Kel.dll"): the engine path it registers is then the
// engine itself.
std::string RuntimeLauncherName();

// Every path the installation makes on the device, the install folder
// taken as the installer's default: the program, the engine, the shortcut
// and each path a registry value holds.
std::vector<std::string> InstalledPaths(const CeInstall& install);

// The installation data and the cabinet's files, in the cabinet's order:
// the data first (".000"), then the others by descending number. False with
// the reason when a name is refused or the data cannot be laid out.
bool BuildInstall(const InstallRequest& request, CeInstall* install, std::vector<CabFile>* files, std::string* error);

}  // namespace kelpack
