#include "cmdline/scan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmdline/merge.h"
#include "text_helpers.h"

namespace {

// Splits a copy of text both ways: the counting pass and the filling pass
// must agree, the list must not be written past the count, and the
// counting pass must cut the line break too.
std::vector<std::u16string> Split(const std::u16string& text) {
    std::u16string counted = text;
    int32_t count = cmdline::SplitArguments(counted.data(), nullptr);
    std::u16string split = text;
    char16_t poison = u'#';
    std::vector<char16_t*> list(static_cast<size_t>(count) + 4, &poison);
    EXPECT_EQ(cmdline::SplitArguments(split.data(), list.data()), count) << testsupport::U8(text);
    for (size_t i = static_cast<size_t>(count); i < list.size(); ++i) EXPECT_EQ(list[i], &poison) << "entry " << i;
    size_t cut = text.find_first_of(u"\r\n");
    if (cut != std::u16string::npos) {
        EXPECT_EQ(counted[cut], 0) << "the counting pass cuts at the line break";
    }
    std::vector<std::u16string> arguments;
    for (int32_t i = 0; i < count; ++i) arguments.emplace_back(list[static_cast<size_t>(i)]);
    return arguments;
}

using Args = std::vector<std::u16string>;

TEST(SplitArguments, SpacesQuotesAndLineBreaks) {
    EXPECT_EQ(Split(u""), Args{});
    EXPECT_EQ(Split(u"    "), Args{});
    EXPECT_EQ(Split(u" app.Main doc.kel"), (Args{u"app.Main", u"doc.kel"}));
    EXPECT_EQ(Split(u"  a   b  "), (Args{u"a", u"b"}));
    EXPECT_EQ(Split(u"\"\\My Documents\\Game.kel\""), Args{u"\\My Documents\\Game.kel"});
    // A closing quote ends the argument at once; the next begins right behind it.
    EXPECT_EQ(Split(u"\"ab\"cd"), (Args{u"ab", u"cd"}));
    // A quote opens only at an argument's start; inside, it is an ordinary character.
    EXPECT_EQ(Split(u"a\"b c\" d"), (Args{u"a\"b", u"c\"", u"d"}));
    // Empty quotes give an empty argument; an unclosed quote runs to the end.
    EXPECT_EQ(Split(u"\"\" x"), (Args{u"", u"x"}));
    EXPECT_EQ(Split(u"x \"\""), (Args{u"x", u""}));
    EXPECT_EQ(Split(u"\"open quote"), Args{u"open quote"});
    // Tabs and apostrophes are ordinary characters.
    EXPECT_EQ(Split(u"a\tb c"), (Args{u"a\tb", u"c"}));
    EXPECT_EQ(Split(u"'x y'"), (Args{u"'x", u"y'"}));
    // A line break ends the text, in either form, inside quotes too.
    EXPECT_EQ(Split(u"a\rb"), Args{u"a"});
    EXPECT_EQ(Split(u"a b\nc d"), (Args{u"a", u"b"}));
    EXPECT_EQ(Split(u"\"a\rb\" c"), Args{u"a"});
    EXPECT_EQ(Split(u"\r a"), Args{});
}

TEST(SplitArguments, EndsEachArgumentInPlace) {
    std::u16string text = u"ab \"c d\"e";
    char16_t* list[3] = {};
    ASSERT_EQ(cmdline::SplitArguments(text.data(), list), 3);
    // The NULs land on the separating space and on the closing quote.
    EXPECT_EQ(list[0], text.data());
    EXPECT_EQ(text[2], 0);
    EXPECT_EQ(list[1], text.data() + 4);
    EXPECT_EQ(text[7], 0);
    EXPECT_EQ(list[2], text.data() + 8);
}

TEST(IsKelFile, LengthAndLetterCase) {
    EXPECT_TRUE(cmdline::IsKelFile(u"a.kel"));
    EXPECT_TRUE(cmdline::IsKelFile(u"GAME.KEL"));
    EXPECT_TRUE(cmdline::IsKelFile(u"x.KeL"));
    EXPECT_TRUE(cmdline::IsKelFile(u"/Temp/Game.kel"));
    EXPECT_TRUE(cmdline::IsKelFile(u"-x.kel"));
    EXPECT_FALSE(cmdline::IsKelFile(u".kel"));
    EXPECT_FALSE(cmdline::IsKelFile(u"kel"));
    EXPECT_FALSE(cmdline::IsKelFile(u""));
    EXPECT_FALSE(cmdline::IsKelFile(u"a.kelx"));
    EXPECT_FALSE(cmdline::IsKelFile(u"a_kel"));
    EXPECT_FALSE(cmdline::IsKelFile(u"a.ke1"));
    EXPECT_FALSE(cmdline::IsKelFile(u"a.kel "));
}

// The target name the scan derives. (That the scan calls no platform
// operation is a link fact: these tests link no platform.)
std::u16string Target(const std::u16string& line) {
    std::u16string before = line;
    cmdline::ScanResult scan = cmdline::ScanCommandLine(line.c_str());
    EXPECT_EQ(line, before) << "the command line must not change";
    EXPECT_EQ(scan.kind, cmdline::ScanKind::kTarget) << testsupport::U8(line);
    EXPECT_EQ(scan.relayAt, -1);
    std::u16string target = scan.target != nullptr ? scan.target : u"(none)";
    cmdline::FreeScan(&scan);
    EXPECT_EQ(scan.target, nullptr);
    return target;
}

TEST(ScanCommandLine, WorkedExamples) {
    EXPECT_EQ(Target(u" app.Main doc.kel"), u"app_Main");
    EXPECT_EQ(Target(u"\"\\My Documents\\Game.kel\""), u"Game_run");
    EXPECT_EQ(Target(u"\\My Documents\\Game.kel"), u"\\My");
    EXPECT_EQ(Target(u"/Temp/Game.kel"), u"Game_run");
    EXPECT_EQ(Target(u"-h 5 app.Main"), u"app_Main");
    EXPECT_EQ(Target(u"-z app.Main"), u"app_Main");
    EXPECT_EQ(Target(u"Kel app.Main"), u"app_Main");
    EXPECT_EQ(Target(u"-- app.Main"), u"StartKel");
    EXPECT_EQ(Target(u"-k"), u"StartKel");
    EXPECT_EQ(Target(u""), u"StartKel");
    EXPECT_EQ(Target(u"     "), u"StartKel");
}

TEST(ScanCommandLine, PlainArgumentsAndKelFiles) {
    // Only the first plain argument decides; a later .kel name has no effect.
    EXPECT_EQ(Target(u"app.Main other.kel"), u"app_Main");
    EXPECT_EQ(Target(u"GAME.KEL"), u"GAME_run");
    EXPECT_EQ(Target(u"Game.kel"), u"Game_run");
    EXPECT_EQ(Target(u"C:\\Apps\\a.b.kel"), u"a_b_run");
    EXPECT_EQ(Target(u"\\a/b\\c.kel"), u"c_run");
    // Kel is passed over in exactly this case, and more than once.
    EXPECT_EQ(Target(u"KEL app.Main"), u"KEL");
    EXPECT_EQ(Target(u"Kel Kel x"), u"x");
    EXPECT_EQ(Target(u"Kel"), u"StartKel");
    EXPECT_EQ(Target(u"Kelx y"), u"Kelx");
    // Separators: '.' and '/' become '_', a backslash and spaces stay.
    EXPECT_EQ(Target(u"\"my app.Main\""), u"my app_Main");
    EXPECT_EQ(Target(u"a\\b/c.d"), u"a\\b_c_d");
    // A line break ends the line; a tab does not separate.
    EXPECT_EQ(Target(u"a\rb"), u"a");
    EXPECT_EQ(Target(u"a\tb c"), u"a\tb");
    // The closing quote ends the argument even when text follows.
    EXPECT_EQ(Target(u"\"ab\"cd"), u"ab");
    // An empty quoted first argument is the target, empty as it is.
    EXPECT_EQ(Target(u"\"\" x"), u"");
}

TEST(ScanCommandLine, KelFileSeparatorSearchStaysInsideTheArgument) {
    // A '/' in an earlier argument is not the .kel name's folder.
    EXPECT_EQ(Target(u"-h a/b x.kel"), u"x_run");
    EXPECT_EQ(Target(u"-h \\dir x.kel"), u"x_run");
    EXPECT_EQ(Target(u"Kel -h a/ Kel b.kel"), u"b_run");
    EXPECT_EQ(Target(u"-x a\\b c.kel"), u"c_run");
}

TEST(ScanCommandLine, OptionLettersAndParameters) {
    // Letters without a parameter are passed over one by one.
    EXPECT_EQ(Target(u"-Q -R -m -n -p -r -s -z y"), u"y");
    EXPECT_EQ(Target(u"-k y"), u"y");
    EXPECT_EQ(Target(u"/z y"), u"y");
    // Every other letter takes the next argument, a lone '-' or '/' included.
    EXPECT_EQ(Target(u"- x y"), u"y");
    EXPECT_EQ(Target(u"/ x y"), u"y");
    EXPECT_EQ(Target(u"-h 5 -o 6 -O 7 -+ 8 -x 9 y"), u"y");
    EXPECT_EQ(Target(u"-a x y"), u"y");
    EXPECT_EQ(Target(u"-hello x y"), u"y");
    // A parameter swallows a file name or another option.
    EXPECT_EQ(Target(u"-x /Temp/Game.kel"), u"StartKel");
    EXPECT_EQ(Target(u"-x -z y"), u"y");
    EXPECT_EQ(Target(u"-h -- y"), u"y");
    // A parameter that would lie beyond the end, or at the last place.
    EXPECT_EQ(Target(u"-h"), u"StartKel");
    EXPECT_EQ(Target(u"a.b -h"), u"a_b");
    EXPECT_EQ(Target(u"-h 5"), u"StartKel");
    EXPECT_EQ(Target(u"-z -h 5"), u"StartKel");
    // In the last place every option leads to the default, in the set or not.
    for (const char16_t* last : {u"-a", u"-z", u"-r", u"-o", u"-O", u"-Q", u"-h", u"-+", u"-k", u"-x", u"-", u"/"}) {
        EXPECT_EQ(Target(std::u16string(u"-z ") + last), u"StartKel") << testsupport::U8(last);
    }
    // "--" ends the walk wherever it stands, "/-" too.
    EXPECT_EQ(Target(u"-z -- y"), u"StartKel");
    EXPECT_EQ(Target(u"/- y"), u"StartKel");
    EXPECT_EQ(Target(u"--x y"), u"StartKel");
    // An option letter above 0xFF is no letter of the sets by its low byte (0x17A has 'z' below).
    std::u16string wide = u"-";
    wide += static_cast<char16_t>(0x017A);
    EXPECT_EQ(Target(wide + u" x y"), u"y");
}

TEST(ScanCommandLine, RelayOption) {
    struct Case {
        std::u16string line;
        int32_t relayAt;
        const char* message;   // what the relay sends; null: nothing follows the option
    } cases[] = {
        {u"-acommand \"go home\"", 0, "go home\n"},
        {u"/acommand x", 0, "x\n"},
        {u"-acommand", 0, nullptr},
        {u"-acommand \"\"", 0, "\n"},
        {u"-z -acommand x", 1, "x\n"},
        {u"-h 5 -acommand x", 2, "x\n"},
        {u"Kel -acommand \u20AC5 more", 1, "\xAC" "5\n"},
        {u"-Q -R -acommand", 2, nullptr},
    };
    for (const auto& c : cases) {
        cmdline::ScanResult scan = cmdline::ScanCommandLine(c.line.c_str());
        SCOPED_TRACE(testsupport::U8(c.line));
        ASSERT_EQ(scan.kind, cmdline::ScanKind::kRelay);
        EXPECT_EQ(scan.relayAt, c.relayAt);
        EXPECT_EQ(scan.target, nullptr);
        if (c.message == nullptr) {
            EXPECT_EQ(scan.relayMessage, nullptr);
        } else {
            ASSERT_NE(scan.relayMessage, nullptr);
            EXPECT_EQ(std::string(scan.relayMessage, static_cast<size_t>(scan.relayMessageLength)), c.message);
        }
        cmdline::FreeScan(&scan);
        EXPECT_EQ(scan.relayMessage, nullptr);
    }
    // The command is the argument after the option, split as any other.
    cmdline::ScanResult scan = cmdline::ScanCommandLine(u" -acommand \"go home\" more");
    ASSERT_EQ(scan.kind, cmdline::ScanKind::kRelay);
    ASSERT_EQ(scan.count, 3);
    EXPECT_EQ(std::u16string(scan.arguments[1]), u"go home");
    cmdline::FreeScan(&scan);

    // Near misses are ordinary options that take a parameter.
    EXPECT_EQ(Target(u"-acomman x y"), u"y");
    EXPECT_EQ(Target(u"-acommandx x y"), u"y");
    EXPECT_EQ(Target(u"-Acommand x y"), u"y");
    EXPECT_EQ(Target(u"-aCommand x y"), u"y");
    // As the parameter of another option it is never looked at.
    EXPECT_EQ(Target(u"-h -acommand y"), u"y");
    // After the first plain argument the walk has already ended.
    EXPECT_EQ(Target(u"app.Main -acommand x"), u"app_Main");
    EXPECT_EQ(Target(u"-- -acommand x"), u"StartKel");
}

TEST(ScanCommandLine, PrefixTokenInApostrophesSplitsInTwo) {
    // The merge keeps 'x y' as one token; the split knows only double quotes.
    const char16_t* merged = cmdline::ComposeCommandLine(u"app.Main", u"-+ 'x y' -- z");
    EXPECT_EQ(std::u16string(merged), u"'x y'  app.Main z");
    EXPECT_EQ(Target(merged), u"'x");
    std::free(const_cast<char16_t*>(merged));
}

}  // namespace
