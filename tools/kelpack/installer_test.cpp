// What a launcher copy's installation holds: folders, files and their
// flags, the shortcut, and registration rows that become, once the device
// puts the install folder in, exactly what the launcher itself writes.
#include "installer.h"

#include <gtest/gtest.h>

#include "filetype/registration.h"
#include "text/utf8_strings.h"

namespace kelpack {
namespace {

InstallRequest Request() {
    InstallRequest r;
    r.appName = "Space Race";
    r.provider = "Example Software";
    r.copyName = "Race.exe";
    r.copy = {'M', 'Z', 1, 2, 3};
    r.copyTime = 1797229802;
    r.hasEngine = true;
    r.engine = {'M', 'Z', 9};
    r.engineTime = 1700000000;
    r.registerFileType = true;
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
    EXPECT_EQ(files[1].data, Request().engine);
    EXPECT_EQ(files[2].name, "0000Race.001");
    EXPECT_EQ(files[2].data, Request().copy);
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
        r.registerFileType = false;
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

// The rows the installer writes, %InstallDir% replaced as the device does,
// against the launcher's own for the path it is installed at, wherever the
// user installs it.
TEST(Installer, TheRegistrationIsTheLaunchersOwnForTheInstalledPath) {
    CeInstall in;
    std::vector<CabFile> files;
    std::string error;
    ASSERT_TRUE(BuildInstall(Request(), &in, &files, &error)) << error;
    CeInstall back = Installed(files);
    for (const std::string folder : {"\\Program Files\\Space Race", "\\Storage Card\\Program Files\\Space Race"}) {
        SCOPED_TRACE(folder);
        std::u16string path = text::Utf8ToWide(folder + "\\Race.exe");
        filetype::RegistrationRow rows[filetype::kRegistrationRowCount];
        std::int32_t count = filetype::RegistrationRows(path.c_str(), rows);
        ASSERT_EQ(static_cast<std::size_t>(count), back.values.size());
        for (std::int32_t i = 0; i < count; ++i) {
            const CeRegValue& v = back.values[i];
            const CeRegKey* key = nullptr;
            for (const CeRegKey& k : back.keys)
                if (k.id == v.key) key = &k;
            ASSERT_NE(key, nullptr);
            EXPECT_EQ(key->root, kCeRootClassesRoot);
            EXPECT_EQ(JoinCePath(key->path), text::WideToUtf8(rows[i].key));
            EXPECT_EQ(v.type, kCeRegString);
            EXPECT_TRUE(v.name.empty());
            ASSERT_FALSE(v.data.empty());
            EXPECT_EQ(v.data.back(), 0);
            std::string data(v.data.begin(), v.data.end() - 1);
            std::size_t at = data.find("%InstallDir%");
            EXPECT_EQ(v.substitute, at != std::string::npos) << data;
            if (at != std::string::npos) data.replace(at, 12, folder);
            EXPECT_EQ(data, text::WideToUtf8(rows[i].value));
        }
        filetype::FreeRegistrationRows(rows, count);
    }
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
        {"an empty name", &InstallRequest::appName, "", "it is empty"},
        {"a name ending in a dot", &InstallRequest::appName, "Game.", "ends with a space or a dot"},
        {"a provider with a tab", &InstallRequest::provider, "Ex\tample", "printable ASCII"},
        {"a copy not ending in .exe", &InstallRequest::copyName, "Race.bin", "does not end in .exe"},
        {"a copy with a colon", &InstallRequest::copyName, "a:b.exe", "holds \":\""},
        {"a path the launcher cannot hold", &InstallRequest::appName, std::string(230, 'n'), "252 characters at most"},
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
    r.provider = "A/B: 100%";
    r.copyName = "RACE.EXE";
    CeInstall in;
    std::vector<CabFile> files;
    std::string error;
    EXPECT_TRUE(BuildInstall(r, &in, &files, &error)) << error;
}

}  // namespace
}  // namespace kelpack
