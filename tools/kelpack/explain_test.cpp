// `kelpack explain` and the splash part of `kelpack show` on launcher images
// built here: the worked examples of the merge, the scan, the relay, the
// registration trigger and the splash choice, read back from real files.
#include "explain.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "byteio.h"
#include "cli.h"
#include "copy_contents.h"
#include "fileio.h"
#include "pe_write.h"

#include "bmp_builder.h"
#include "image_in_memory.h"
#include "pe_builder.h"
#include "scratch_dir.h"

namespace kelpack {
namespace {

namespace fs = std::filesystem;

using testsupport::PatternBmpBytes;

std::vector<std::uint8_t> BytesOf(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }


class Explain : public testsupport::ScratchDirTest {
protected:
    // Writes a launcher image carrying `res` as Game.exe (replacing the last one) and returns its path.
    std::string Launcher(const ResourceList& res) {
        PeImage image;
        std::string error;
        EXPECT_TRUE(ParsePe(testsupport::MakeImage(testsupport::PlainLayout()), &image, &error)) << error;
        std::vector<std::uint8_t> out;
        RsrcPlacement placement;
        std::vector<std::string> warnings;
        EXPECT_TRUE(LayOutResources(image, res, &out, &placement, &warnings, &error)) << error;
        std::string path = (dir_ / "Game.exe").string();
        EXPECT_TRUE(WriteFileAtomic(path, out, "", &error)) << error;
        return path;
    }
    std::string WithCommandLine(const std::string& embedded) {
        ResourceList res;
        PutResource(&res, TextType(), CommandLineName(), BytesOf(embedded));
        return Launcher(res);
    }
    Explanation Run(const std::string& file, const std::u16string& user, std::int32_t w = 240, std::int32_t h = 320) {
        ExplainOptions o;
        o.copy = file;
        o.userLine = user;
        o.screenWidth = w;
        o.screenHeight = h;
        Explanation x;
        Outcome r;
        EXPECT_TRUE(kelpack::Explain(o, &x, &r)) << r.errors.front();
        return x;
    }
    int Cli(const std::vector<std::string>& args) {
        out_.clear();
        err_.clear();
        return RunCli(args, &out_, &err_);
    }

    std::string out_, err_;
};

TEST_F(Explain, PackagedLauncherMergesAndLooksForItsApplicationWindow) {
    Explanation x = Run(WithCommandLine("app.Main"), u"doc.kel");
    EXPECT_TRUE(x.hasEmbedded);
    EXPECT_EQ(x.embedded, u"app.Main");
    EXPECT_EQ(x.merged, u" app.Main doc.kel");
    EXPECT_EQ(x.registration, filetype::Registration::kNone);
    ASSERT_TRUE(x.scanned);
    EXPECT_FALSE(x.relay);
    EXPECT_EQ(x.arguments, (std::vector<std::u16string>{u"app.Main", u"doc.kel"}));
    EXPECT_EQ(x.target, u"app_Main");
    std::string text = ExplainText(x);
    for (const char* want : {"merged with the user's: \" app.Main doc.kel\" (17 characters)",
                             "window of class \"app_Main\"", "posts it message 1038 (both parameters 0) and exits 0; otherwise it goes on",
                             "KelMainW runs with the command line \" app.Main doc.kel\""})
        EXPECT_NE(text.find(want), std::string::npos) << want << "\n" << text;
    // The embedded text is cut at a line break, as the launcher cuts it.
    EXPECT_EQ(Run(WithCommandLine("abc\r\ndef"), u"x").merged, u" abc x");
    // An empty user line leaves the embedded text alone, which is then no blank line.
    x = Run(WithCommandLine("app.Main"), u"");
    EXPECT_EQ(x.merged, u"app.Main");
    EXPECT_EQ(x.registration, filetype::Registration::kNone);
    // The prefix section goes in front.
    EXPECT_EQ(Run(WithCommandLine("app.Main"), u"-+ -h 5 -- doc.kel").merged, u"-h 5  app.Main doc.kel");
}

TEST_F(Explain, QuotedKelPathWithoutEmbeddedLineTargetsTheFilesName) {
    std::string plain = Launcher({});
    Explanation x = Run(plain, u"\"\\My Documents\\Game.kel\"");
    EXPECT_FALSE(x.hasEmbedded);
    EXPECT_EQ(x.merged, u"\"\\My Documents\\Game.kel\"");
    EXPECT_EQ(x.arguments, (std::vector<std::u16string>{u"\\My Documents\\Game.kel"}));
    EXPECT_EQ(x.target, u"Game_run");
    // Unquoted, the space splits the path and the first piece is the target.
    EXPECT_EQ(Run(plain, u"\\My Documents\\Game.kel").target, u"\\My");
    EXPECT_EQ(Run(plain, u"-- app.Main").target, u"StartKel");
    EXPECT_NE(ExplainText(x).find("no CommandLine resource, so the user's command line is used unchanged"), std::string::npos);
}

TEST_F(Explain, RelayOptionInThePrefixSectionSendsTheCommandAndANewline) {
    Explanation x = Run(WithCommandLine("app.Main"), u"-+ -acommand \"go home\" --");
    EXPECT_EQ(x.merged, u"-acommand \"go home\"  app.Main");
    ASSERT_TRUE(x.relay);
    EXPECT_EQ(x.relayAt, 0);
    EXPECT_TRUE(x.relayHasCommand);
    EXPECT_EQ(x.relayCommand, u"go home");
    EXPECT_EQ(x.relayBytes, "go home\n");
    EXPECT_TRUE(x.target.empty());
    std::string text = ExplainText(x);
    EXPECT_NE(text.find("sends 8 bytes: 67 6f 20 68 6f 6d 65 0a (\"go home\\n\"), then exits 0"), std::string::npos) << text;
    EXPECT_NE(text.find("HKEY_LOCAL_MACHINE\\Software\\Norvane\\KelVM value ServerPort"), std::string::npos) << text;
    EXPECT_NE(text.find("no handoff is tried"), std::string::npos);
    std::string json = ExplainJson(x);
    EXPECT_NE(json.find("\"bytes_hex\": \"67 6f 20 68 6f 6d 65 0a\", \"bytes_text\": \"go home\\n\", \"length\": 8"), std::string::npos) << json;
    EXPECT_NE(json.find("\"handoff\": null"), std::string::npos);

    // After the embedded text the option is never reached.
    EXPECT_FALSE(Run(WithCommandLine("app.Main"), u"-acommand go").relay);
    // Empty quotes send the newline alone; a character above 0xFF goes as its low byte.
    EXPECT_EQ(Run(Launcher({}), u"-acommand \"\"").relayBytes, "\n");
    EXPECT_EQ(Run(Launcher({}), u"-acommand \u20AC").relayBytes, "\xAC\n");
    // With nothing after it there is nothing to send, and still no handoff.
    x = Run(Launcher({}), u"-acommand");
    EXPECT_TRUE(x.relay);
    EXPECT_FALSE(x.relayHasCommand);
    EXPECT_EQ(x.relayBytes, "");
    EXPECT_NE(ExplainText(x).find("No argument follows it"), std::string::npos);
}

TEST_F(Explain, BlankLineRegistersAndGoesOnLonePlusRegistersAndStops) {
    std::string plain = Launcher({});
    Explanation x = Run(plain, u"   ");
    EXPECT_EQ(x.registration, filetype::Registration::kRegisterAndGoOn);
    EXPECT_TRUE(x.scanned);
    EXPECT_EQ(x.target, u"StartKel");
    EXPECT_EQ(x.installedAs, u"\\Windows\\Game.exe");
    EXPECT_EQ(x.registeredEnginePath, u"\\Windows\\Game.DLL");
    // The rows are the launcher's own, in the order it writes them.
    EXPECT_EQ(x.registrationRows,
              (std::vector<std::pair<std::u16string, std::u16string>>{
                  {u"KelFile10", u"Kel Application"},
                  {u"KelFile10\\Shell\\Open\\Command", u"\"\\Windows\\Game.exe\" \"%1\""},
                  {u"KelFile10\\DefaultIcon", u"\\Windows\\Game.exe,-50"},
                  {u"KelFile10\\DLL", u"\\Windows\\Game.DLL"},
                  {u".kel", u"KelFile10"}}));
    EXPECT_NE(ExplainText(x).find("registers the .kel file type for a launcher at \"\\Windows\\Game.exe\", setting the "
                                  "default values HKEY_CLASSES_ROOT\\KelFile10 = \"Kel Application\", "),
              std::string::npos) << ExplainText(x);
    EXPECT_NE(ExplainText(x).find("HKEY_CLASSES_ROOT\\.kel = \"KelFile10\", and goes on"), std::string::npos);
    EXPECT_NE(ExplainJson(x).find("\"registration_rows\": [{\"key\": \"KelFile10\", \"value\": \"Kel Application\"}, "),
              std::string::npos) << ExplainJson(x);

    x = Run(plain, u"+  ");
    EXPECT_EQ(x.registration, filetype::Registration::kRegisterOnly);
    EXPECT_FALSE(x.scanned);
    std::string text = ExplainText(x);
    EXPECT_NE(text.find("and exits 0"), std::string::npos);
    // The explanation stops where the launcher stops.
    EXPECT_EQ(text.find("3. "), std::string::npos) << text;
    EXPECT_EQ(text.find("Engine"), std::string::npos);
    EXPECT_NE(ExplainJson(x).find("\"ends\": \"registration\""), std::string::npos);
    // "+x" and a "+" after the embedded text are ordinary arguments.
    EXPECT_EQ(Run(plain, u"+x").registration, filetype::Registration::kNone);
    EXPECT_EQ(Run(WithCommandLine("app.Main"), u"+").merged, u" app.Main +");

    // The install path decides the engine path a registration writes.
    plain = Launcher({});
    ASSERT_EQ(Cli({"explain", plain, "--installed-as", "\\Program Files\\Shop\\Shop.exe", "--json", "--command-line", ""}), 0) << err_;
    EXPECT_NE(out_.find("\"registered_engine_path\": \"\\\\Program Files\\\\Shop\\\\Shop.DLL\""), std::string::npos) << out_;
    EXPECT_NE(out_.find("\"registration\": \"register_and_go_on\""), std::string::npos);
}

TEST_F(Explain, SplashChoiceFollowsTheScreenAndTheBitmapsThatDecode) {
    ResourceList res;
    PutResource(&res, SplashType(), ResNameUpper("Splash.bmp"), PatternBmpBytes(150, 150));
    std::vector<std::uint8_t> broken = PatternBmpBytes(300, 300);
    PutU32(&broken, 30, 1);  // run-length compressed
    PutResource(&res, SplashType(), ResNameUpper("Splash300.bmp"), broken);
    std::string file = Launcher(res);

    // The default configuration: the 150x150 entry on small screens, the 300x300 one where it fits.
    Explanation x = Run(file, u"doc.kel");
    EXPECT_FALSE(x.configPacked);
    EXPECT_EQ(x.splash.name, "Splash.bmp");
    EXPECT_TRUE(x.splash.present);
    EXPECT_TRUE(x.splash.decodes);
    EXPECT_EQ(x.splash.title, "The Big Splash Screen");
    x = Run(file, u"doc.kel", 480, 640);
    EXPECT_EQ(x.splash.name, "Splash300.bmp");
    EXPECT_TRUE(x.splash.present);
    EXPECT_FALSE(x.splash.decodes);
    EXPECT_NE(x.splash.problem.find("compressed"), std::string::npos);
    EXPECT_EQ(Run(file, u"doc.kel", 320, 240).splash.name, "Splash.bmp");

    // show lists all seven common screens, each with the launcher's choice and verdict.
    ASSERT_EQ(Cli({"show", file}), 0) << err_;
    for (const char* want : {"240x320  \"Splash.bmp\" (entry 150x150): decodes, 150x150 24-bit",
                             "320x240  \"Splash.bmp\" (entry 150x150): decodes",
                             "480x640  \"Splash300.bmp\" (entry 300x300): does not decode (it is compressed",
                             "640x480  \"Splash300.bmp\"", "800x480  \"Splash300.bmp\""})
        EXPECT_NE(out_.find(want), std::string::npos) << want << "\n" << out_;
    ASSERT_EQ(Cli({"show", "--json", file}), 0) << err_;
    EXPECT_NE(out_.find("{\"screen_width\": 240, \"screen_height\": 320, \"bitmap\": \"Splash.bmp\", \"entry_width\": 150, "
                        "\"entry_height\": 150, \"title\": \"The Big Splash Screen\", \"present\": true, \"decodes\": true"),
              std::string::npos) << out_;
    EXPECT_NE(out_.find("\"screen_width\": 480, \"screen_height\": 640, \"bitmap\": \"Splash300.bmp\""), std::string::npos);

    // A packed configuration replaces the default; names are found whatever their case.
    PutResource(&res, TextType(), ConfigName(), BytesOf("SplashScreen=400x400;splash.BMP|SplashScreen=150x150;S|SplashScreenTitle=T"));
    x = Run(Launcher(res), u"doc.kel", 240, 320);
    EXPECT_TRUE(x.configPacked);
    EXPECT_EQ(x.splash.name, "splash.BMP");  // the first entry is taken whatever its size
    EXPECT_TRUE(x.splash.decodes);
    EXPECT_EQ(x.splash.title, "T");
    // No SplashScreen entry: no splash.
    PutResource(&res, TextType(), ConfigName(), BytesOf("SplashScreenTitle=T"));
    x = Run(Launcher(res), u"doc.kel");
    EXPECT_FALSE(x.splash.chosen);
    EXPECT_NE(ExplainText(x).find("no splash: the configuration has no SplashScreen entry"), std::string::npos);

    // Only when some offered bitmap is packed does the launcher ask the screen
    // and choose; the entry chosen may still be one that is not packed.
    PutResource(&res, TextType(), ConfigName(), BytesOf("SplashScreen=1x1;Gone.bmp|SplashScreen=2x2;Also.bmp"));
    x = Run(Launcher(res), u"doc.kel");
    EXPECT_TRUE(x.splash.offered);
    EXPECT_FALSE(x.splash.asksScreen);
    EXPECT_FALSE(x.splash.chosen);
    EXPECT_NE(ExplainText(x).find("4. Splash (packed CONFIG): no splash: no bitmap the configuration offers is packed, "
                                  "so the screen size is not asked."),
              std::string::npos) << ExplainText(x);
    PutResource(&res, TextType(), ConfigName(), BytesOf("SplashScreen=1x1;Splash.bmp|SplashScreen=2x2;Also.bmp"));
    x = Run(Launcher(res), u"doc.kel");
    EXPECT_TRUE(x.splash.asksScreen);
    EXPECT_EQ(x.splash.name, "Also.bmp");
    EXPECT_FALSE(x.splash.present);
    EXPECT_NE(ExplainText(x).find("4. Splash on a 240x320 screen (packed CONFIG): \"Also.bmp\" (entry 2x2): not packed"),
              std::string::npos) << ExplainText(x);
}

TEST_F(Explain, EnginePathAndPortAreTheLaunchersOwnRules) {
    std::string plain = Launcher({});
    // The registered value is read back as the launcher reads it: a path that
    // starts with a quote loses its first and its last character.
    ASSERT_EQ(Cli({"explain", plain, "--installed-as", "\"\\Q\\G.exe\"", "--json", "--", "x"}), 0) << err_;
    EXPECT_NE(out_.find("\"max_value_bytes\": 65540, \"registered_path\": \"\\\"\\\\Q\\\\G.DLL\", "
                        "\"loads_after_registration\": \"\\\\Q\\\\G.DL\""),
              std::string::npos) << out_;
    ASSERT_EQ(Cli({"explain", plain, "--installed-as", "\\Windows\\G.exe", "--", "x"}), 0) << err_;
    EXPECT_NE(out_.find("when that value is at most 65540 bytes. A registration by this launcher at \"\\Windows\\G.exe\" "
                        "sets that value to \"\\Windows\\G.DLL\", from which the launcher loads \"\\Windows\\G.DLL\"."),
              std::string::npos) << out_;
    // A path longer than the platform's is no value the launcher takes.
    ExplainOptions o;
    o.copy = plain;
    o.userLine = u"x";
    o.hasInstalledAs = true;
    o.installedAs = u"\\" + std::u16string(32768, u'a') + u".exe";
    Explanation x;
    Outcome r;
    ASSERT_TRUE(kelpack::Explain(o, &x, &r)) << r.errors.front();
    EXPECT_FALSE(x.registeredEngineTaken);
    EXPECT_NE(ExplainText(x).find("which is too long for the launcher to take"), std::string::npos);
    EXPECT_NE(ExplainJson(x).find("\"loads_after_registration\": null"), std::string::npos);

    x = Run(plain, u"-acommand go");
    EXPECT_NE(ExplainText(x).find("a value of up to 4 bytes is a number, a longer one none"), std::string::npos);
    EXPECT_NE(ExplainJson(x).find("\"port_value_max_bytes\": 4"), std::string::npos);
}

TEST_F(Explain, CommandLineOptionsAndErrors) {
    std::string file = WithCommandLine("app.Main");
    // Arguments after -- are joined by single spaces; --command-line keeps the text exactly.
    ASSERT_EQ(Cli({"explain", file, "--json", "--", "a", "b"}), 0) << err_;
    EXPECT_NE(out_.find("\"merged_command_line\": \" app.Main a b\""), std::string::npos) << out_;
    ASSERT_EQ(Cli({"explain", file, "--json", "--command-line", "  a  b  "}), 0) << err_;
    EXPECT_NE(out_.find("\"merged_command_line\": \" app.Main a  b  \""), std::string::npos) << out_;
    ASSERT_EQ(Cli({"explain", file, "--screen", "480x640", "--json"}), 0) << err_;
    // No bitmap the default configuration offers is packed: the launcher never asks the screen.
    EXPECT_NE(out_.find("\"screen_width\": 480, \"screen_height\": 640, \"bitmap\": null, \"asks_screen\": false"),
              std::string::npos) << out_;
    // Launcher options after -- are the user's, not kelpack's.
    ASSERT_EQ(Cli({"explain", file, "--", "--json", "-h"}), 0) << err_;
    EXPECT_NE(out_.find("\" app.Main --json -h\""), std::string::npos) << out_;

    EXPECT_EQ(Cli({"explain", file, "--command-line", "x", "--", "y"}), 1);
    EXPECT_NE(err_.find("not both"), std::string::npos);
    EXPECT_EQ(Cli({"explain", file, "--installed-as", "\\A.exe", "--installed-as", "\\B.exe"}), 1);
    EXPECT_NE(err_.find("--installed-as is given twice"), std::string::npos) << err_;
    EXPECT_EQ(Cli({"explain", file, "--screen", "240"}), 1);
    EXPECT_EQ(Cli({"explain", file, "--screen", "0x320"}), 1);
    EXPECT_EQ(Cli({"explain", file, "--frob"}), 1);
    EXPECT_EQ(Cli({"explain"}), 1);
    EXPECT_EQ(Cli({"explain", (dir_ / "missing.exe").string()}), 2);
    std::string junk = (dir_ / "junk.exe").string();
    std::string error;
    ASSERT_TRUE(WriteFileAtomic(junk, {'M', 'Z', 0, 0}, "", &error));
    EXPECT_EQ(Cli({"explain", junk, "--", "x"}), 3);
    EXPECT_NE(err_.find("not a PE image"), std::string::npos) << err_;
    EXPECT_EQ(Cli({"explain", "--help"}), 0);
    EXPECT_NE(out_.find("--installed-as PATH"), std::string::npos);
    EXPECT_EQ(Cli({"help", "explain"}), 0);
    EXPECT_NE(out_.find("Usage: kelpack explain"), std::string::npos);
}

TEST(WidePrintable, ShowsSpacesAndEscapesTheRest) {
    EXPECT_EQ(WidePrintable(u" a\tb\u00e9\uFFE9"), " a\\u0009b\\u00e9\\uffe9");
}

}  // namespace
}  // namespace kelpack
