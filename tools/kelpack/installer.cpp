#include "installer.h"

#include "byteio.h"

#include "contract/kel.h"
#include "filetype/registration.h"
#include "text/utf8_strings.h"

namespace kelpack {

namespace {

// "%CE1%" for 1.
std::string Macro(std::uint16_t n) { return "%CE" + std::to_string(n) + "%"; }

bool EndsWithExe(const std::string& name) {
    if (name.size() < 5) return false;
    std::string end = name.substr(name.size() - 4);
    for (char& c : end) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return end == ".exe";
}

CabFile Member(const std::string& name, std::uint16_t id, const MemberSource& source) {
    CabFile f;
    f.name = CeMemberName(name, id);
    f.data = source.data;
    f.path = source.path;
    f.size = source.size;
    DosDateTime(source.time, &f.date, &f.time);
    return f;
}

// The registration's rows as the installer's registry keys and values.
void AddRegistration(const std::string& folder, const std::string& fileName, CeInstall* in) {
    for (const auto& row : InstalledRegistrationRows(folder, fileName)) {
        CeRegKey key;
        key.id = static_cast<std::uint16_t>(in->keys.size() + 1);
        key.root = kCeRootClassesRoot;
        std::string piece;
        for (char c : row.first + "\\") {
            if (c != '\\') {
                piece += c;
            } else if (!piece.empty()) {
                key.path.push_back(piece);
                piece.clear();
            }
        }
        in->keys.push_back(key);
        CeRegValue value;
        value.id = static_cast<std::uint16_t>(in->values.size() + 1);
        value.key = key.id;
        value.substitute = row.second.find('%') != std::string::npos;
        value.type = kCeRegString;
        value.data.assign(row.second.begin(), row.second.end());
        value.data.push_back(0);
        in->values.push_back(value);
    }
}

// The text with the folder macros the installer replaces put as the device has them.
std::string Substituted(std::string text, const CeInstall& in) {
    for (std::size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at)) {
        std::size_t end = text.find('%', at + 1);
        if (end == std::string::npos) break;
        std::string place = CeDevicePath({text.substr(at, end - at + 1)}, in.appName);
        if (place.empty()) {
            at = end;
            continue;
        }
        text.replace(at, end - at + 1, place);
        at += place.size();
    }
    return text;
}

bool CheckPaths(const CeInstall& in, std::string* error) {
    for (const std::string& path : InstalledPaths(in))
        if (path.size() > kMaxDevicePath)
            return Fail(error, "it would make " + path + " (" + std::to_string(path.size()) + " characters) on the device, where a path has at most " +
                                   std::to_string(kMaxDevicePath) + "; give a shorter --name or file name");
    return true;
}

}  // namespace

bool CheckDeviceText(const std::string& text, DeviceText kind, std::string* error) {
    if (text.empty()) return Fail(error, "it is empty");
    const std::size_t most = kind == DeviceText::kProvider ? kMaxProviderChars : kind == DeviceText::kAppName ? kMaxAppNameChars : 0;
    if (most != 0 && text.size() > most)
        return Fail(error, "it has " + std::to_string(text.size()) + " characters, more than the " + std::to_string(most) +
                               " a device's installer takes for " + (kind == DeviceText::kProvider ? "a provider" : "an application name"));
    // The vendor's tools refuse these in names; a file name may not hold
    // them, and % could be taken for a folder macro where the installer
    // substitutes paths.
    const std::string refused = kind == DeviceText::kProvider ? "\\/:*?\"<>|&" : kind == DeviceText::kAppName ? "\\/:*?\"<>|&%" : "\\/:*?\"<>|%";
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7F)
            return Fail(error, "it holds characters beyond printable ASCII, and the device reads the installation "
                               "data's 8-bit text in its own code page; give an ASCII name");
        if (refused.find(static_cast<char>(c)) != std::string::npos) {
            std::string listed;
            for (char r : refused) listed += (listed.empty() ? "" : " ") + std::string(1, r);
            return Fail(error, std::string("it holds \"") + static_cast<char>(c) + "\", which " +
                                   (kind == DeviceText::kFileName ? "a file or folder name on the device may not" : "the device's installer does not take") +
                                   " (nor any of " + listed + ")");
        }
    }
    const bool file = kind != DeviceText::kProvider;
    if (text.front() == ' ' || text.back() == ' ' || (file && (text.back() == '.' || text.front() == '.')))
        return Fail(error, file ? "it starts or ends with a space or a dot" : "it starts or ends with a space");
    return true;
}

std::vector<std::pair<std::string, std::string>> InstalledRegistrationRows(const std::string& folder, const std::string& fileName) {
    bool utf8 = true;
    std::u16string path = text::Utf8ToWide(folder + "\\" + fileName, &utf8);
    filetype::RegistrationRow rows[filetype::kRegistrationRowCount];
    std::int32_t count = filetype::RegistrationRows(path.c_str(), rows);
    std::vector<std::pair<std::string, std::string>> out;
    for (std::int32_t i = 0; i < count; ++i) out.emplace_back(text::WideToUtf8(rows[i].key), text::WideToUtf8(rows[i].value));
    filetype::FreeRegistrationRows(rows, count);
    return out;
}

std::string RuntimeLauncherName() {
    std::string engine = text::WideToUtf8(kel::kEngineLibraryName);
    return engine.substr(0, engine.rfind('.')) + ".exe";
}

std::vector<std::string> InstalledPaths(const CeInstall& in) {
    std::vector<std::string> paths;
    for (const CeFile& f : in.files)
        for (const CeDir& d : in.dirs)
            if (d.id == f.dir) {
                std::vector<std::string> path = d.path;
                path.push_back(f.name);
                paths.push_back(CeDevicePath(path, in.appName));
            }
    for (const CeLink& l : in.links) {
        std::vector<std::string> path = {l.base == 0 ? "%InstallDir%" : "%CE" + std::to_string(l.base) + "%"};
        path.insert(path.end(), l.path.begin(), l.path.end());
        paths.push_back(CeDevicePath(path, in.appName));
    }
    for (const CeRegValue& v : in.values)
        if (v.substitute && !v.data.empty()) paths.push_back(Substituted(std::string(v.data.begin(), v.data.end() - 1), in));
    return paths;
}

bool BuildInstall(const InstallRequest& r, CeInstall* in, std::vector<CabFile>* files, std::string* error) {
    std::string why;
    if (!CheckDeviceText(r.appName, DeviceText::kAppName, &why)) return Fail(error, "the application name \"" + r.appName + "\": " + why);
    if (!CheckDeviceText(r.provider, DeviceText::kProvider, &why)) return Fail(error, "the provider \"" + r.provider + "\": " + why);
    if (!CheckDeviceText(r.copyName, DeviceText::kFileName, &why)) return Fail(error, "the copy's file name \"" + r.copyName + "\": " + why);
    if (!EndsWithExe(r.copyName))
        return Fail(error, "the copy's file name \"" + r.copyName + "\" does not end in .exe, and the device starts only programs that do; rename it");
    if (r.runtime && !r.hasEngine) return Fail(error, "the runtime installs the engine: give --engine");
    const std::string engineName = text::WideToUtf8(kel::kEngineLibraryName);
    const std::string launcherName = r.runtime ? RuntimeLauncherName() : r.copyName;
    const std::string installed = (r.runtime ? "\\Windows\\" : "\\Program Files\\" + r.appName + "\\") + launcherName;
    if (installed.size() > kMaxLauncherPath)
        return Fail(error, "installed as " + installed + " (" + std::to_string(installed.size()) + " characters), the launcher could not know its own path, which may be " +
                               std::to_string(kMaxLauncherPath) + " characters at most; give a shorter --name or file name");

    *in = CeInstall();
    in->appName = r.appName;
    in->provider = r.provider;
    in->processor = kCeProcessorArm;
    in->minMajor = 4;
    in->minMinor = 20;
    // The runtime's launcher lies beside the engine in \Windows; an
    // application's copy in a folder of its own under \Program Files.
    in->dirs.push_back({1, r.runtime ? std::vector<std::string>{Macro(kCeWindows)} : std::vector<std::string>{Macro(kCeProgramFiles), r.appName}});
    in->files.push_back({1, 1, 0, launcherName});
    if (r.hasEngine) {
        // One engine serves every application that installs it: shared, so
        // removing one leaves it for the others, and never put over a newer one.
        if (!r.runtime) in->dirs.push_back({2, {Macro(kCeWindows)}});
        in->files.push_back({2, static_cast<std::uint16_t>(r.runtime ? 1 : 2), kCeFileShared | kCeFileKeepNewer, engineName});
    }
    if (r.shortcut != ShortcutFolder::kNone)
        in->links.push_back({1, r.shortcut == ShortcutFolder::kGames ? kCeStartGames : kCeStartPrograms, 1, true,
                             {r.appName + ".lnk"}});
    // Only the runtime owns the file type: the installer removes the rows
    // with the package that wrote them, and an application's removal must
    // not take the file type from every other one.
    if (r.runtime) AddRegistration(Macro(kCeWindows), launcherName, in);
    if (!CheckPaths(*in, error)) return false;

    std::vector<std::uint8_t> data;
    if (!LayOutInstallData(*in, &data, error)) return false;
    files->clear();
    MemberSource installData;
    installData.data = std::move(data);
    installData.time = r.copy.time;
    files->push_back(Member(r.appName, 0, installData));
    if (r.hasEngine) files->push_back(Member(engineName, 2, r.engine));
    files->push_back(Member(launcherName, 1, r.copy));
    return true;
}

}  // namespace kelpack
