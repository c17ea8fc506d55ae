// What a launcher copy's installation holds: folders, files and their
// flags, the shortcut, and registration rows that become, once the device
// puts the install folder in, exactly what the launcher itself writes.
#include "installer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "filetype/registration.h"
#include "text/utf8_strings.h"

namespace kelpack {
namespace {

InstallRequest Request() {
    InstallRequest r;
    r.appName = "Space Race";
    r.provider = "Example Software";
    r.copyName = "Race.exe";
    r.copy.data = {'M', 'Z', 1, 2, 3};
    r.copy.time = 1797229802;
    r.hasEngine = true;
    r.engine.data = {'M', 'Z', 9};
    r.engine.time = 1700000000;
    return r;
}

// The install data as the device reads it from the cabinet's first file.
CeInstall Installed(const std::vector<CabFile>& files) {
    CeInstall in;
    std::string error;
    EXPECT_TRUE(ReadInstallData(files.at(0).data, &in, &error)) << error;
    return in;
}

TEST(Installer, TheCopyTheEngineAndTheShortcutGoWhereTheDeviceLooks) {
    CeInstall in;
    std::vector<CabFile> files;
    std::string error;
    ASSERT_TRUE(BuildInstall(Request(), &in, &files, &error)) << error;
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].name, "SpaceRac.000");
    EXPECT_EQ(files[1].name, "00000Kel.002");
    EXPECT_EQ(files[1].data, Request().engine.data);
    EXPECT_EQ(files[2].name, "0000Race.001");
    EXPECT_EQ(files[2].data, Request().copy.data);
    EXPECT_EQ(DosDateTimeText(files[2].date, files[2].time), "2026-12-14 06:30:02");

    CeInstall back = Installed(files);
    EXPECT_EQ(back.appName, "Space Race");
    EXPECT_EQ(back.provider, "Example Software");
    EXPECT_EQ(back.processor, 2577u);
    EXPECT_EQ(back.minMajor, 4u);
    EXPECT_EQ(back.minMinor, 20u);
    EXPECT_EQ(back.maxMajor + back.maxMinor + back.minBuild + back.maxBuild, 0u);
    ASSERT_EQ(back.dirs.size(), 2u);
    EXPECT_EQ(back.dirs[0].path, std::vector<std::string>({"%CE1%", "Space Race"}));
    EXPECT_EQ(back.dirs[1].path, std::vector<std::string>({"%CE2%"}));
    ASSERT_EQ(back.files.size(), 2u);
    EXPECT_EQ(back.files[0].name, "Race.exe");
    EXPECT_EQ(back.files[0].dir, back.dirs[0].id);
    EXPECT_EQ(back.files[0].flags, 0u);
    EXPECT_EQ(back.files[1].name, "Kel.dll");
    EXPECT_EQ(back.files[1].dir, back.dirs[1].id);
    EXPECT_EQ(back.files[1].flags, 0xA0000000u);
    ASSERT_EQ(back.links.size(), 1u);
    EXPECT_EQ(back.links[0].base, 11);
    EXPECT_EQ(back.links[0].target, back.files[0].id);
    EXPECT_TRUE(back.links[0].toFile);
    EXPECT_EQ(back.links[0].path, std::vector<std::string>({"Space Race.lnk"}));
}

TEST(Installer, TheShortcutAndTheEngineAreThePackagersChoice) {
    struct Case {
        ShortcutFolder shortcut;
        bool engine;
        std::size_t links;
        std::uint16_t base;
    };
    for (const Case& c : {Case{ShortcutFolder::kGames, false, 1, 14}, Case{ShortcutFolder::kNone, true, 0, 0}}) {
        InstallRequest r = Request();
        r.shortcut = c.shortcut;
        r.hasEngine = c.engine;
        CeInstall in;
        std::vector<CabFile> files;
        std::string error;
        ASSERT_TRUE(BuildInstall(r, &in, &files, &error)) << error;
        EXPECT_EQ(files.size(), c.engine ? 3u : 2u);
        CeInstall back = Installed(files);
        EXPECT_EQ(back.files.size(), c.engine ? 2u : 1u);
        ASSERT_EQ(back.links.size(), c.links);
        if (c.links) {
            EXPECT_EQ(back.links[0].base, c.base);
        }
        EXPECT_TRUE(back.keys.empty());
        EXPECT_TRUE(back.values.empty());
    }
}

// Each registry value's text as the device writes it, the folders put in.
std::vector<std::string> ValueTexts(const CeInstall& in) {
    std::vector<std::string> paths = InstalledPaths(in), texts;
    std::size_t next = in.files.size() + in.links.size();
    for (const CeRegValue& v : in.values)
        texts.push_back(v.substitute ? paths.at(next++) : std::string(v.data.begin(), v.data.end() - 1));
    return texts;
}

// The runtime: the launcher beside the engine in \Windows, and the rows the
// installer writes, %CE2% replaced as the device does, the launcher's own
// for that path, every one of them naming a file the runtime installs.
TEST(Installer, TheRuntimeRegistersTheLaunchersOwnRowsForItsInstalledPath) {
    InstallRequest r = Request();
    r.runtime = true;
    r.copyName = "kel.exe";
    r.shortcut = ShortcutFolder::kNone;
    CeInstall in;
    std::vector<CabFile> files;
    std::string error;
    ASSERT_TRUE(BuildInstall(r, &in, &files, &error)) << error;
    CeInstall back = Installed(files);
    EXPECT_EQ(InstalledPaths(back), std::vector<std::string>({"\\Windows\\Kel.exe", "\\Windows\\Kel.dll",
                                                               "\"\\Windows\\Kel.exe\" \"%1\"", "\\Windows\\Kel.exe,-50",
                                                               "\\Windows\\Kel.DLL"}));
    std::u16string path = u"\\Windows\\Kel.exe";
    filetype::RegistrationRow rows[filetype::kRegistrationRowCount];
    std::int32_t count = filetype::RegistrationRows(path.c_str(), rows);
    ASSERT_EQ(static_cast<std::size_t>(count), back.values.size());
    for (std::int32_t i = 0; i < count; ++i) {
        const CeRegValue& v = back.values[i];
        ASSERT_EQ(back.keys.at(v.key - 1u).id, v.key);
        EXPECT_EQ(back.keys[v.key - 1u].root, kCeRootClassesRoot);
        EXPECT_EQ(JoinCePath(back.keys[v.key - 1u].path), text::WideToUtf8(rows[i].key));
        EXPECT_EQ(v.type, kCeRegString);
        EXPECT_TRUE(v.name.empty());
        EXPECT_EQ(ValueTexts(back).at(i), text::WideToUtf8(rows[i].value));
    }
    filetype::FreeRegistrationRows(rows, count);
    r.hasEngine = false;
    EXPECT_FALSE(BuildInstall(r, &in, &files, &error));
    EXPECT_NE(error.find("give --engine"), std::string::npos) << error;
}

// The device's installer as far as the file type goes: it copies files
// (shared ones counted), writes a package's registry values and, on
// removal, takes away its files (shared ones at the last user) and the
// values it wrote. Whatever order two applications and the runtime come
// and go in, .kel is registered to an installed launcher or not at all.
TEST(Installer, NoOrderOfInstallsAndRemovalsLeavesTheFileTypeOnARemovedProgram) {
    struct Device {
        std::map<std::string, int> files;                              // path -> users
        std::map<std::string, std::pair<std::string, int>> registry;   // key -> value, package
    };
    std::vector<CeInstall> packages;
    for (int p = 0; p < 3; ++p) {
        InstallRequest r = Request();
        r.runtime = p == 2;
        r.appName = r.runtime ? "Kel Runtime" : "Game " + std::to_string(p);
        r.copyName = r.runtime ? "kel.exe" : "Game" + std::to_string(p) + ".exe";
        CeInstall in;
        std::vector<CabFile> files;
        std::string error;
        ASSERT_TRUE(BuildInstall(r, &in, &files, &error)) << error;
        packages.push_back(Installed(files));
    }
    auto install = [&](Device* d, int p) {
        const CeInstall& in = packages[p];
        std::vector<std::string> paths = InstalledPaths(in);
        for (std::size_t f = 0; f < in.files.size(); ++f) d->files[paths[f]]++;
        std::vector<std::string> texts = ValueTexts(in);
        for (std::size_t v = 0; v < in.values.size(); ++v)
            d->registry[JoinCePath(in.keys.at(in.values[v].key - 1u).path)] = {texts[v], p};
    };
    auto remove = [&](Device* d, int p) {
        const CeInstall& in = packages[p];
        std::vector<std::string> paths = InstalledPaths(in);
        for (std::size_t f = 0; f < in.files.size(); ++f)
            if (--d->files[paths[f]] == 0 || !(in.files[f].flags & kCeFileShared)) d->files.erase(paths[f]);
        for (auto it = d->registry.begin(); it != d->registry.end();)
            it = it->second.second == p ? d->registry.erase(it) : std::next(it);
    };
    // Every sequence of the six steps in which a package is removed after it is installed.
    std::vector<int> steps = {0, 1, 2, 3, 4, 5};  // p installs, p + 3 removes
    int sequences = 0;
    do {
        bool valid = true;
        for (int p = 0; p < 3; ++p)
            valid = valid && std::find(steps.begin(), steps.end(), p) < std::find(steps.begin(), steps.end(), p + 3);
        if (!valid) continue;
        ++sequences;
        Device d;
        std::string done;
        for (int step : steps) {
            step < 3 ? install(&d, step) : remove(&d, step - 3);
            done += (step < 3 ? " +" : " -") + std::to_string(step % 3);
            auto command = d.registry.find("KelFile10\\Shell\\Open\\Command");
            if (d.registry.count(".kel") == 0) continue;
            ASSERT_NE(command, d.registry.end()) << done;
            std::string program = command->second.first.substr(1, command->second.first.find('"', 1) - 1);
            EXPECT_EQ(d.files.count(program), 1u) << done << ": .kel opens " << program;
            EXPECT_EQ(d.files.count("\\Windows\\Kel.dll"), 1u) << done;
        }
    } while (std::next_permutation(steps.begin(), steps.end()));
    EXPECT_EQ(sequences, 90);
}

TEST(Installer, NamesTheDeviceCannotTakeAreRefusedWithTheReason) {
    struct Case {
        const char* what;
        std::string InstallRequest::*field;
        std::string value;
        const char* reason;
    };
    const Case cases[] = {
        {"a name beyond ASCII", &InstallRequest::appName, "Caf\xc3\xa9", "printable ASCII"},
        {"a name with a slash", &InstallRequest::appName, "A/B", "holds \"/\""},
        {"a name with a percent", &InstallRequest::appName, "100%", "holds \"%\""},
        {"a name with an ampersand", &InstallRequest::appName, "Cops & Robbers", "holds \"&\""},
        {"a name of 41 characters", &InstallRequest::appName, std::string(41, 'n'), "41 characters, more than the 40"},
        {"an empty name", &InstallRequest::appName, "", "it is empty"},
        {"a name ending in a dot", &InstallRequest::appName, "Game.", "ends with a space or a dot"},
        {"a provider with a tab", &InstallRequest::provider, "Ex\tample", "printable ASCII"},
        {"a provider with a colon", &InstallRequest::provider, "A:B", "holds \":\""},
        {"a provider with a backslash", &InstallRequest::provider, "Prov\\X", "holds \"\\\""},
        {"a provider with a bar", &InstallRequest::provider, "A|B", "holds \"|\""},
        {"a provider of 31 characters", &InstallRequest::provider, std::string(31, 'p'), "31 characters, more than the 30"},
        {"no provider", &InstallRequest::provider, "", "it is empty"},
        {"a copy not ending in .exe", &InstallRequest::copyName, "Race.bin", "does not end in .exe"},
        {"a copy with a colon", &InstallRequest::copyName, "a:b.exe", "holds \":\""},
        {"a path the launcher cannot hold", &InstallRequest::copyName, std::string(230, 'n') + ".exe", "252 characters at most"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InstallRequest r = Request();
        r.*c.field = c.value;
        CeInstall in;
        std::vector<CabFile> files;
        std::string error;
        EXPECT_FALSE(BuildInstall(r, &in, &files, &error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    // A provider may hold what a folder may not, and an upper-case .EXE is a program too.
    InstallRequest r = Request();
    r.provider = std::string(26, 'p') + "100%";
    r.appName = std::string(40, 'n');
    r.copyName = "RACE.EXE";
    CeInstall in;
    std::vector<CabFile> files;
    std::string error;
    EXPECT_TRUE(BuildInstall(r, &in, &files, &error)) << error;
}

}  // namespace
}  // namespace kelpack
