#include "installer.h"

#include "contract/kel.h"
#include "filetype/registration.h"
#include "text/utf8_strings.h"

namespace kelpack {

namespace {

bool Fail(std::string* error, const std::string& why) {
    *error = why;
    return false;
}

// "%CE1%" for 1.
std::string Macro(std::uint16_t n) { return "%CE" + std::to_string(n) + "%"; }

bool EndsWithExe(const std::string& name) {
    if (name.size() < 5) return false;
    std::string end = name.substr(name.size() - 4);
    for (char& c : end) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return end == ".exe";
}

CabFile Member(const std::string& name, std::uint16_t id, std::vector<std::uint8_t> data, std::int64_t when) {
    CabFile f;
    f.name = CeMemberName(name, id);
    f.data = std::move(data);
    DosDateTime(when, &f.date, &f.time);
    return f;
}

// The registration's rows as the installer's registry keys and values.
void AddRegistration(const std::string& copyName, CeInstall* in) {
    for (const auto& row : InstalledRegistrationRows(copyName)) {
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
        value.substitute = row.second.find("%InstallDir%") != std::string::npos;
        value.type = kCeRegString;
        value.data.assign(row.second.begin(), row.second.end());
        value.data.push_back(0);
        in->values.push_back(value);
    }
}

}  // namespace

bool CheckDeviceName(const std::string& text, bool isFileName, std::string* error) {
    if (text.empty()) return Fail(error, "it is empty");
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7F)
            return Fail(error, "it holds characters beyond printable ASCII, and the device reads the installation "
                               "data's 8-bit text in its own code page; give an ASCII name");
        if (isFileName && std::string("\\/:*?\"<>|%").find(static_cast<char>(c)) != std::string::npos)
            return Fail(error, std::string("it holds \"") + static_cast<char>(c) +
                                   "\", which a file or folder name on the device may not (nor any of \\ / : * ? \" < > | %)");
    }
    if (text.front() == ' ' || text.back() == ' ' || (isFileName && (text.back() == '.' || text.front() == '.')))
        return Fail(error, isFileName ? "it starts or ends with a space or a dot" : "it starts or ends with a space");
    return true;
}

std::vector<std::pair<std::string, std::string>> InstalledRegistrationRows(const std::string& copyName) {
    bool utf8 = true;
    std::u16string path = u"%InstallDir%\\" + text::Utf8ToWide(copyName, &utf8);
    filetype::RegistrationRow rows[filetype::kRegistrationRowCount];
    std::int32_t count = filetype::RegistrationRows(path.c_str(), rows);
    std::vector<std::pair<std::string, std::string>> out;
    for (std::int32_t i = 0; i < count; ++i) out.emplace_back(text::WideToUtf8(rows[i].key), text::WideToUtf8(rows[i].value));
    filetype::FreeRegistrationRows(rows, count);
    return out;
}

bool BuildInstall(const InstallRequest& r, CeInstall* in, std::vector<CabFile>* files, std::string* error) {
    std::string why;
    if (!CheckDeviceName(r.appName, true, &why)) return Fail(error, "the application name \"" + r.appName + "\": " + why);
    if (!r.provider.empty() && !CheckDeviceName(r.provider, false, &why))
        return Fail(error, "the provider \"" + r.provider + "\": " + why);
    if (!CheckDeviceName(r.copyName, true, &why)) return Fail(error, "the copy's file name \"" + r.copyName + "\": " + why);
    if (!EndsWithExe(r.copyName))
        return Fail(error, "the copy's file name \"" + r.copyName + "\" does not end in .exe, and the device starts only programs that do; rename it");
    const std::string installed = "\\Program Files\\" + r.appName + "\\" + r.copyName;
    if (installed.size() > kMaxLauncherPath)
        return Fail(error, "installed as " + installed + " (" + std::to_string(installed.size()) + " characters), the launcher could not know its own path, which may be " +
                               std::to_string(kMaxLauncherPath) + " characters at most; give a shorter --name or file name");

    *in = CeInstall();
    in->appName = r.appName;
    in->provider = r.provider;
    in->processor = kCeProcessorArm;
    in->minMajor = 4;
    in->minMinor = 20;
    in->dirs.push_back({1, {Macro(kCeProgramFiles), r.appName}});
    in->files.push_back({1, 1, 0, r.copyName});
    const std::string engineName = text::WideToUtf8(kel::kEngineLibraryName);
    if (r.hasEngine) {
        // One engine serves every application that installs it: shared, so
        // removing one leaves it for the others, and never put over a newer one.
        in->dirs.push_back({2, {Macro(kCeWindows)}});
        in->files.push_back({2, 2, kCeFileShared | kCeFileKeepNewer, engineName});
    }
    if (r.shortcut != ShortcutFolder::kNone)
        in->links.push_back({1, r.shortcut == ShortcutFolder::kGames ? kCeStartGames : kCeStartPrograms, 1, true,
                             {r.appName + ".lnk"}});
    if (r.registerFileType) AddRegistration(r.copyName, in);

    std::vector<std::uint8_t> data;
    if (!WriteInstallData(*in, &data, error)) return false;
    files->clear();
    files->push_back(Member(r.appName, 0, std::move(data), r.copyTime));
    if (r.hasEngine) files->push_back(Member(engineName, 2, r.engine, r.engineTime));
    files->push_back(Member(r.copyName, 1, r.copy, r.copyTime));
    return true;
}

}  // namespace kelpack
