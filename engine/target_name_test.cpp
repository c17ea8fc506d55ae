// The sample engine names its window with a rule of its own; a second start
// finds it only when that rule gives what the launcher's scan gives.
#include "target_name.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "cmdline/scan.h"

namespace {

std::u16string Launcher(const std::u16string& line) {
    cmdline::ScanResult scan = cmdline::ScanCommandLine(line.c_str());
    std::u16string name = scan.kind == cmdline::ScanKind::kTarget ? scan.target : u"StartKel";
    cmdline::FreeScan(&scan);
    return name;
}

std::u16string Sample(const std::u16string& line) {
    char16_t name[512];
    sample::TargetName(line.c_str(), name, 512);
    return name;
}

TEST(SampleTargetName, AgreesWithTheLauncher) {
    const char16_t* lines[] = {
        u"", u"   ", u"app.Main doc.kel", u"\"\\My Documents\\Game.kel\"", u"/Temp/Game.kel", u"-h 5 app.Main",
        u"-z app.Main", u"Kel app.Main", u"KEL app.Main", u"-- app.Main", u"-k", u"-x /Temp/Game.kel", u"-acommand \"go home\"",
        u"-z -acommand x", u"-acommandx y", u"\"\" x", u"a\rb", u"\"a.b\\c.d.KeL\" x", u".kel", u"x.kel", u"-", u"- x y",
        u"-h", u"-+", u"/Q a/b.c", u"'x y' -- z", u"\"open quote", u"a\"b c\" d", u"-\u00e9 x y",
        u"\"\\My Documents\\.KEL\"", u"/Temp/.kel", u"/.kel", u"\\.kel x",
    };
    for (const char16_t* line : lines) EXPECT_EQ(Sample(line), Launcher(line)) << testing::PrintToString(std::u16string(line));
    // Lines drawn from the characters the rule looks at, and from the pieces
    // of a file name (a separator right before ".kel" is rarely drawn
    // character by character).
    std::mt19937 random(20261209);
    const std::u16string alphabet = u" \"-/.\\:kKeElLaQzhx+\r";
    const char16_t* pieces[] = {u".kel", u".KeL", u"/", u"\\", u"a", u" "};
    for (int round = 0; round < 20000; ++round) {
        std::u16string line;
        size_t length = random() % 24;
        for (size_t i = 0; i < length; ++i) {
            if (random() % 3 == 0) line += pieces[random() % (sizeof pieces / sizeof *pieces)];
            else line += alphabet[random() % alphabet.size()];
        }
        if (random() % 4 == 0) line += u" -acommand x";
        ASSERT_EQ(Sample(line), Launcher(line)) << "round " << round;
    }
}

}  // namespace
