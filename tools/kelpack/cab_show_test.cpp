// `kelpack show` of an installation cabinet: what the installer makes of
// it, in text and JSON, the program inside shown as a launcher copy, and
// cabinets it cannot read refused with the reason.
#include "cab_show.h"

#include <gtest/gtest.h>

#include "cabinet.h"
#include "cli.h"
#include "install_data.h"

#include "le_bytes.h"
#include "pe_builder.h"
#include "scratch_dir.h"

namespace kelpack {
namespace {

class CabShow : public testsupport::ScratchDirTest {
protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
        testsupport::TestImageLayout l = testsupport::LauncherLayout(0x1c0, false);
        l.subsystem = 9;
        Put("Game.exe", testsupport::MakeImage(l));
        testsupport::TestImageLayout dll = testsupport::PlainLayout(0x1c0, false);
        dll.characteristics = 0x2102;
        testsupport::AddExports(&dll, {"KelMainW"});
        Put("Kel.dll", testsupport::MakeImage(dll));
    }
    int Run(std::vector<std::string> args) {
        out_.clear();
        err_.clear();
        for (std::string& a : args)
            if (!a.empty() && a[0] == '@') a = Path(a.substr(1));
        return RunCli(args, &out_, &err_);
    }
    std::string out_, err_;
};

TEST_F(CabShow, TellsWhatTheInstallerDoesAndShowsTheCopyInside) {
    ASSERT_EQ(Run({"pack", "@Game.exe", "-o", "@Race.exe", "--command-line", "race.Main"}), 0) << err_;
    std::vector<std::string> cab = {"cab", "@Race.exe", "-o", "@Race.cab", "--name", "Space Race", "--provider", "Example",
                                    "--engine", "@Kel.dll", "--shortcut", "games"};
    if (kCabHasMszip) cab.push_back("--compress");
    ASSERT_EQ(Run(cab), 0) << err_;
    ASSERT_EQ(Run({"show", "@Race.cab"}), 0) << err_;
    for (const std::string& line : {
             std::string("Application: \"Space Race\"\nProvider: \"Example\" (the device lists \"Example Space Race\")\n"),
             std::string("Windows CE versions: 4.20 and later\nProcessor: ARM (2577)\nInstallation data: SpaceRac.000\n"),
             std::string("  00000Kel.002  "),
             std::string("-> %CE2%\\Kel.dll (\\Windows\\Kel.dll), shared (reference-counted), never over a newer file\n"),
             std::string("-> %CE1%\\Space Race\\Race.exe (\\Program Files\\Space Race\\Race.exe)\n"),
             std::string(kCabHasMszip ? " compressed with MSZIP\n" : " stored without compression\n"),
             std::string("Registry values (0):\n"),
             std::string("  %CE14%\\Space Race.lnk (\\Windows\\Start Menu\\Programs\\Games\\Space Race.lnk) -> %CE1%\\Space Race\\Race.exe\n"),
             std::string("The program %CE1%\\Space Race\\Race.exe (0000Race.001):\n  %CE1%\\Space Race\\Race.exe: PE32 ARM,"),
             std::string("  Command line: \"race.Main\"\n"),
         })
        EXPECT_NE(out_.find(line), std::string::npos) << "lacks: " << line << "\n" << out_;

    ASSERT_EQ(Run({"show", "--json", "@Race.cab"}), 0) << err_;
    for (const std::string& part : {
             std::string("\"kind\": \"cabinet\""), std::string("\"app_name\": \"Space Race\""), std::string("\"processor\": 2577"),
             std::string("\"min_version\": [4, 20]"),
             std::string("\"destination\": \"%CE2%\\\\Kel.dll\", \"on_device\": \"\\\\Windows\\\\Kel.dll\", \"flags\": 2684354560"),
             std::string(kCabHasMszip ? "\"compression\": \"MSZIP\"" : "\"compression\": \"none\""),
             std::string("{\"folder\": \"%CE14%\", \"name\": \"Space Race.lnk\", \"target\": \"%CE1%\\\\Space Race\\\\Race.exe\"}"),
             std::string("\"command_line\": \"race.Main\""),
         })
        EXPECT_NE(out_.find(part), std::string::npos) << "lacks: " << part << "\n" << out_;
}

// The runtime's cabinet says what it registers, and for which installed program.
TEST_F(CabShow, TheRuntimesRegistrationNamesTheLauncherItInstalls) {
    ASSERT_EQ(Run({"cab", "--runtime", "@Game.exe", "--engine", "@Kel.dll", "-o", "@rt.cab"}), 0) << err_;
    ASSERT_EQ(Run({"show", "@rt.cab"}), 0) << err_;
    for (const std::string& line : {
             std::string("-> %CE2%\\Kel.exe (\\Windows\\Kel.exe)\n"),
             std::string("  HKEY_CLASSES_ROOT\\KelFile10\\Shell\\Open\\Command (default) = \"\"%CE2%\\Kel.exe\" \"%1\"\" "
                         "(%InstallDir% and %CEn% replaced on install)\n"),
             std::string("  HKEY_CLASSES_ROOT\\.kel (default) = \"KelFile10\"\n"),
             std::string("Shortcuts (0):\n"),
         })
        EXPECT_NE(out_.find(line), std::string::npos) << "lacks: " << line << "\n" << out_;
}

// Cabinets whose installation data and members do not match are no
// installation at all: the installer would fail part way.
TEST_F(CabShow, ACabinetWhoseDataAndMembersDisagreeIsNotInstallable) {
    ASSERT_EQ(Run({"cab", "@Game.exe", "-o", "@Game.cab", "--engine", "@Kel.dll"}), 0) << err_;
    Cabinet cab;
    std::string error;
    ASSERT_TRUE(ReadCabinet(Get("Game.cab"), &cab, &error)) << error;
    std::vector<CabFile> members;
    for (const CabMember& e : cab.files) {
        CabFile f;
        f.name = e.name;
        f.data = CabFileData(cab, e);
        members.push_back(f);
    }
    CabFile extra;
    extra.name = "0000Xtra.005";
    struct Case {
        const char* what;
        std::vector<CabFile> files;
        std::string reason;
    };
    const Case cases[] = {
        {"a member missing", {members[0], members[1]}, "the installation data installs file 1 (Game.exe), but the cabinet has no member numbered .001"},
        {"a member too many", {members[0], members[1], members[2], extra}, "0000Xtra.005 is in the cabinet, but no FILES entry of the installation data installs it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(LayOutCabinet(c.files, 0, &bytes, &error)) << error;
        Put("bad.cab", bytes);
        EXPECT_EQ(Run({"show", "@bad.cab"}), 3);
        EXPECT_NE(err_.find(Path("bad.cab") + ": not an installable cabinet: " + c.reason), std::string::npos) << err_;
        EXPECT_TRUE(out_.empty());
    }
}

TEST_F(CabShow, CabinetsItCannotReadAreRefusedWithTheReason) {
    ASSERT_EQ(Run({"cab", "@Game.exe", "-o", "@Game.cab"}), 0) << err_;
    const std::vector<std::uint8_t> good = Get("Game.cab");
    std::vector<std::uint8_t> noData;
    std::string error;
    CabFile plain;
    plain.name = "readme.txt";
    plain.data = {'h', 'i'};
    ASSERT_TRUE(LayOutCabinet({plain}, 0, &noData, &error)) << error;
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::string reason;
    };
    std::vector<Case> cases = {{"compressed with LZX", good, "folder 1 is compressed with LZX"},
                               {"cut short", std::vector<std::uint8_t>(good.begin(), good.begin() + 100), "the cabinet says it is " + std::to_string(good.size()) + " bytes, but the file has only 100"},
                               {"no installation data", noData, "no installation data: no file of the cabinet ends in .000"},
                               {"damaged installation data", good, "0000Game.000: the installation data does not start with MSCE"}};
    testsupport::PutU16(cases[0].bytes, 42, 3);
    // The .000 is the first file, and its data the first bytes of the folder.
    const std::size_t data = good[36] | good[37] << 8;
    cases[3].bytes[data + 8] = 'X';
    testsupport::PutU32(cases[3].bytes, data, 0);  // no checksum to break
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put("bad.cab", c.bytes);
        EXPECT_EQ(Run({"show", "@bad.cab"}), 3) << out_;
        EXPECT_NE(err_.find("kelpack: error: " + Path("bad.cab") + ": not an installation cabinet kelpack reads: " + c.reason),
                  std::string::npos)
            << err_;
        EXPECT_TRUE(out_.empty());
    }
}

TEST(CeWords, FlagsAndValuesAsPeopleReadThem) {
    EXPECT_EQ(CeFileFlagsText(0), "");
    EXPECT_EQ(CeFileFlagsText(0xA0000000), "shared (reference-counted), never over a newer file");
    EXPECT_EQ(CeFileFlagsText(0x40000013), "always overwrites, never over an existing file, must not be skipped, warns when skipped");
    EXPECT_EQ(CeFileFlagsText(0x00000104), "other flags 0x00000104");
    CeRegValue text{1, 1, false, kCeRegString, "", {'a', '"', 0}};
    CeRegValue dword{2, 1, false, kCeRegDword | kCeRegKeepExisting, "n", {0x39, 0x30, 0, 0}};
    CeRegValue unended{3, 1, false, kCeRegString, "", {'a', 'b'}};
    EXPECT_EQ(CeValueText(text), "\"a\"\"");
    EXPECT_EQ(CeValueText(dword), "12345");
    EXPECT_EQ(CeValueText(unended), "bytes [61 62]");
}

}  // namespace
}  // namespace kelpack
