// `kelpack cab` as a user runs it: launcher copies and engines in a scratch
// folder, the cabinet read back, and the refusals with their messages and
// exit codes.
#include "cab.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "cabinet.h"
#include "cli.h"
#include "install_data.h"

#include "pe_builder.h"
#include "scratch_dir.h"

namespace kelpack {
namespace {

using testsupport::AddExports;
using testsupport::LauncherLayout;
using testsupport::MakeImage;
using testsupport::PlainLayout;
using testsupport::TestImageLayout;

constexpr std::uint16_t kArm = 0x1c0;

// A launcher built for the device: ARM, a Windows CE GUI program.
std::vector<std::uint8_t> DeviceLauncher() {
    TestImageLayout l = LauncherLayout(kArm, false);
    l.subsystem = 9;
    return MakeImage(l);
}

// A DLL for `machine` that exports `names`.
std::vector<std::uint8_t> Dll(std::uint16_t machine, const std::vector<std::string>& names) {
    TestImageLayout l = PlainLayout(machine, machine == 0x8664);
    l.subsystem = 9;
    l.characteristics = 0x2102;
    AddExports(&l, names);
    return MakeImage(l);
}

class CabCommand : public testsupport::ScratchDirTest {
protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
        Put("Game.exe", DeviceLauncher());
        Put("Desk.exe", MakeImage(LauncherLayout()));
        Put("Kel.dll", Dll(kArm, {"KelMainW"}));
        Put("MyEngine.dll", Dll(kArm, {"Helper", "KelMainW"}));
        Put("Other.dll", Dll(kArm, {"Start", "Stop"}));
        Put("Desk.dll", Dll(0x8664, {"KelMainW"}));
        Put("Game.bin", DeviceLauncher());
        Put("notes.txt", {'h', 'i'});
        Put("Jeu\xe2\x82\xac.exe", DeviceLauncher());
        ASSERT_EQ(Run({"pack", "@Game.exe", "-o", "@Race.exe", "--command-line", "race.Main"}), 0) << err_;
    }
    // Runs kelpack; "@" starting an argument stands for the scratch folder.
    int Run(std::vector<std::string> args) {
        out_.clear();
        err_.clear();
        for (std::string& a : args)
            if (!a.empty() && a[0] == '@') a = Path(a.substr(1));
        return RunCli(args, &out_, &err_);
    }
    // The cabinet's installation data and its files.
    CeInstall Installed(const std::string& name, Cabinet* cab) {
        std::string error;
        CeInstall in;
        EXPECT_TRUE(ReadCabinet(Get(name), cab, &error)) << error;
        if (cab->files.empty()) return in;
        EXPECT_TRUE(ReadInstallData(CabFileData(*cab, cab->files[0]), &in, &error)) << error;
        return in;
    }
    std::string out_, err_;
};

TEST_F(CabCommand, DefaultsInstallTheCopyWithAShortcutAndSayWhereTheNamesCameFrom) {
    ASSERT_EQ(Run({"cab", "@Game.exe", "-o", "@Game.cab"}), 0) << err_;
    EXPECT_NE(out_.find("wrote " + Path("Game.cab") + ": installs \"Game Game\" on Windows CE 4.20 and later (ARM): Game.exe in "
                        "\\Program Files\\Game, a shortcut in the Start menu's Programs; "),
              std::string::npos)
        << out_;
    EXPECT_NE(err_.find("note: no --provider: the provider is \"Game\", the copy's file name without .exe"), std::string::npos) << err_;
    EXPECT_NE(err_.find("note: no --name: the application is named \"Game\", the copy's file name without .exe"), std::string::npos) << err_;
    Cabinet cab;
    CeInstall in = Installed("Game.cab", &cab);
    EXPECT_EQ(in.appName, "Game");
    EXPECT_EQ(in.provider, "Game");
    ASSERT_EQ(cab.files.size(), 2u);
    EXPECT_EQ(CabFileData(cab, cab.files[1]), Get("Game.exe"));
    ASSERT_EQ(in.links.size(), 1u);
    EXPECT_EQ(in.links[0].base, 11);
    EXPECT_TRUE(in.keys.empty());
    EXPECT_EQ(NamesWith(".kelpack-tmp"), std::vector<std::string>{});
}

TEST_F(CabCommand, TheNameComesFromTheTitleUnlessTheDeviceCannotShowIt) {
    struct Case {
        const char* title;
        const char* name;
        const char* note;
    };
    const Case cases[] = {
        {"Space Race", "Space Race", "the copy's splash title"},
        {"Caf\xc3\xa9", "Titled", "its splash title \"Caf\xc3\xa9\" cannot be: it holds characters beyond printable ASCII"},
        {"A/B", "Titled", "its splash title \"A/B\" cannot be: it holds \"/\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        ASSERT_EQ(Run({"pack", "@Game.exe", "-o", "@Titled.exe", "--title", c.title}), 0) << err_;
        ASSERT_EQ(Run({"cab", "@Titled.exe", "-o", "@t.cab", "--provider", "Example", "--shortcut", "games"}), 0) << err_;
        EXPECT_NE(err_.find(c.note), std::string::npos) << err_;
        EXPECT_EQ(err_.find("no --provider"), std::string::npos) << err_;
        Cabinet cab;
        CeInstall in = Installed("t.cab", &cab);
        EXPECT_EQ(in.appName, c.name);
        EXPECT_EQ(in.provider, "Example");
        ASSERT_EQ(in.links.size(), 1u);
        EXPECT_EQ(in.links[0].base, 14);
    }
}

TEST_F(CabCommand, TheEngineIsInstalledSharedUnderTheNameTheLauncherLoads) {
    ASSERT_EQ(Run({"cab", "@Game.exe", "-o", "@e.cab", "--engine", "@MyEngine.dll", "--shortcut=none", "--name", "Race"}),
              0)
        << err_;
    EXPECT_NE(err_.find("note: --engine " + Path("MyEngine.dll") + " is installed as \\Windows\\Kel.dll, the name the launcher loads"),
              std::string::npos)
        << err_;
    Cabinet cab;
    CeInstall in = Installed("e.cab", &cab);
    ASSERT_EQ(in.files.size(), 2u);
    EXPECT_EQ(in.files[1].name, "Kel.dll");
    EXPECT_EQ(in.files[1].flags, 0xA0000000u);
    ASSERT_EQ(cab.files.size(), 3u);
    EXPECT_EQ(cab.files[1].name, "00000Kel.002");
    EXPECT_EQ(CabFileData(cab, cab.files[1]), Get("MyEngine.dll"));
    EXPECT_TRUE(in.links.empty());
    EXPECT_TRUE(in.values.empty());
}

TEST_F(CabCommand, WhatADeviceCannotInstallIsRefusedWithTheReasonAndNothingIsWritten) {
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string message;
    };
    const Case cases[] = {
        {{"@Desk.exe"}, 4, "Desk.exe: not a launcher copy for the device: it is built for x64 (PE32+), not for the ARM processor of a Windows CE device"},
        {{"@Kel.dll"}, 4, "Kel.dll: not a launcher copy for the device: it is a DLL, not a program"},
        {{"@Game.exe", "--engine", "@Other.dll"}, 4, "Other.dll: it does not export KelMainW, the routine the launcher calls (it exports Start, Stop): it is no Kel engine"},
        {{"@Game.exe", "--engine", "@Game.exe"}, 4, "Game.exe: it is a program, not a DLL"},
        {{"@Game.exe", "--engine", "@Desk.dll"}, 4, "Desk.dll: it is built for x64, not for the ARM processor"},
        {{"@Game.exe", "--engine", "@notes.txt"}, 4, "notes.txt: not a PE image"},
        {{"@Game.bin"}, 4, "the copy's file name \"Game.bin\" does not end in .exe"},
        {{"@Game.exe", "--name", "Caf\xc3\xa9"}, 4, "--name \"Caf\xc3\xa9\": it holds characters beyond printable ASCII"},
        {{"@missing.exe"}, 2, "missing.exe: cannot read"},
        {{"@notes.txt"}, 3, "notes.txt: not a PE image"},
        {{"@Game.exe", "--engine", "@missing.dll"}, 2, "missing.dll: cannot read"},
        {{"@Game.exe", "--shortcut", "desktop"}, 1, "--shortcut \"desktop\": give programs, games or none"},
        {{"@Game.exe", "--name", "a", "--name", "b"}, 1, "--name is given twice"},
        {{"@Game.exe", "--provider", "A:B"}, 4, "--provider \"A:B\": it holds \":\", which the device's installer does not take"},
        {{"@Game.exe", "--provider", std::string(31, 'p')}, 4, "it has 31 characters, more than the 30 a device's installer takes for a provider"},
        {{"@Game.exe", "--name", "Cops & Robbers"}, 4, "--name \"Cops & Robbers\": it holds \"&\""},
        {{"@Jeu\xe2\x82\xac.exe"}, 4, "the provider \"Jeu\xe2\x82\xac\" is the copy's file name without .exe, as no --provider was given: "
                                      "it holds characters beyond printable ASCII, and the device reads the installation data's 8-bit "
                                      "text in its own code page; give an ASCII name; --provider sets it"},
        {{"@Jeu\xe2\x82\xac.exe", "--provider", "P"}, 4, "the application name \"Jeu\xe2\x82\xac\" is the copy's file name without .exe, as no --name was given"},
        {{"@Game.exe", "--register-filetype"}, 1, "--register-filetype: an application's cabinet does not register the .kel file type"},
        {{"@Game.exe", "--runtime"}, 1, "--runtime needs --engine"},
        {{"@Race.exe", "--runtime", "--engine", "@Kel.dll"}, 4, "the runtime's launcher is the device's kel.exe as built, but this copy carries a command line"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"cab", "-o", "@out.cab"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(c.message);
        EXPECT_EQ(Run(args), c.exitCode) << err_;
        EXPECT_NE(err_.find(c.message), std::string::npos) << err_;
        EXPECT_EQ(err_.find("kelpack: nothing was written") != std::string::npos, c.exitCode != 1) << err_;
        EXPECT_FALSE(std::filesystem::exists(Path("out.cab")));
        EXPECT_TRUE(out_.empty()) << out_;
    }
}

TEST_F(CabCommand, AnOutputThatIsAnInputIsRefusedAndTheInputKept) {
    const std::vector<std::uint8_t> copy = Get("Game.exe"), engine = Get("Kel.dll");
    std::filesystem::create_hard_link(Path("Game.exe"), Path("link.cab"));
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"@Game.exe", "-o", "@Game.exe"}, "-o " + Path("Game.exe") + " and " + Path("Game.exe") + " are the same file; kelpack never changes its input, so choose another output"},
        {{"@Game.exe", "-o", "@link.cab"}, "-o " + Path("link.cab") + " and " + Path("Game.exe") + " are the same file"},
        {{"@Game.exe", "-o", "@Kel.dll", "--engine", "@Kel.dll"}, "-o " + Path("Kel.dll") + " and --engine " + Path("Kel.dll") + " are the same file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        std::vector<std::string> args = {"cab"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(Run(args), 1) << err_;
        EXPECT_EQ(err_.rfind("kelpack: error: ", 0), 0u) << err_;
        EXPECT_NE(err_.find(c.message), std::string::npos) << err_;
    }
    EXPECT_EQ(Get("Game.exe"), copy);
    EXPECT_EQ(Get("Kel.dll"), engine);
    EXPECT_FALSE(std::filesystem::exists(Path("Game")));
}

// The runtime: the plain launcher as the handler of .kel files beside the
// shared engine, and no shortcut unless asked for.
TEST_F(CabCommand, TheRuntimeInstallsThePlainLauncherAsTheFileTypesHandler) {
    ASSERT_EQ(Run({"cab", "--runtime", "@Game.exe", "--engine", "@Kel.dll", "-o", "@rt.cab"}), 0) << err_;
    EXPECT_NE(out_.find("installs \"Norvane Kel Runtime\" on Windows CE 4.20 and later (ARM): Kel.exe and Kel.dll in \\Windows "
                        "(Kel.dll shared), the .kel file type for Kel.exe; "),
              std::string::npos)
        << out_;
    Cabinet cab;
    CeInstall in = Installed("rt.cab", &cab);
    EXPECT_EQ(InstalledPaths(in), std::vector<std::string>({"\\Windows\\Kel.exe", "\\Windows\\Kel.dll", "\"\\Windows\\Kel.exe\" \"%1\"",
                                                             "\\Windows\\Kel.exe,-50", "\\Windows\\Kel.DLL"}));
    EXPECT_TRUE(in.links.empty());
    EXPECT_EQ(in.values.size(), 5u);
    EXPECT_EQ(CabFileData(cab, cab.files[2]), Get("Game.exe"));
    // The launcher copy of an application warns of what a start without a command line does.
    ASSERT_EQ(Run({"cab", "@Game.exe", "-o", "@g.cab"}), 0) << err_;
    EXPECT_NE(err_.find("it carries no command line, so when started without one it registers the .kel file type for itself"),
              std::string::npos)
        << err_;
    ASSERT_EQ(Run({"cab", "@Race.exe", "-o", "@g.cab"}), 0) << err_;
    EXPECT_EQ(err_.find("registers the .kel file type"), std::string::npos) << err_;
}

// Stored or compressed, the cabinet holds the very files, each dated by its
// file but no later than SOURCE_DATE_EPOCH, so that two runs give the same bytes.
TEST_F(CabCommand, TheSameInputsGiveTheSameCabinetStoredOrCompressed) {
    std::filesystem::last_write_time(Path("Game.exe"), std::filesystem::file_time_type::clock::now());
    ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    for (const char* compress : {"--shortcut=programs", "--compress"}) {
        if (!kCabHasMszip && std::string(compress) == "--compress") continue;
        SCOPED_TRACE(compress);
        ASSERT_EQ(Run({"cab", "@Game.exe", "--engine", "@Kel.dll", "-o", "@a.cab", compress}), 0) << err_;
        ASSERT_EQ(Run({"cab", "@Game.exe", "--engine", "@Kel.dll", "-o", "@b.cab", compress}), 0) << err_;
        EXPECT_EQ(Get("a.cab"), Get("b.cab"));
        Cabinet cab;
        Installed("a.cab", &cab);
        ASSERT_EQ(cab.files.size(), 3u);
        EXPECT_EQ(DosDateTimeText(cab.files[2].date, cab.files[2].time), "2023-11-14 22:13:20");
        EXPECT_EQ(CabFileData(cab, cab.files[2]), Get("Game.exe"));
        EXPECT_EQ(cab.compression.at(0), std::string(compress) == "--compress" ? kCabMszip : kCabStored);
    }
    ::setenv("SOURCE_DATE_EPOCH", "soon", 1);
    EXPECT_EQ(Run({"cab", "@Game.exe", "-o", "@c.cab"}), 1);
    EXPECT_NE(err_.find("SOURCE_DATE_EPOCH \"soon\" is no number of seconds since 1970"), std::string::npos) << err_;
    ::unsetenv("SOURCE_DATE_EPOCH");
}

}  // namespace
}  // namespace kelpack
