// The one reader of every command's arguments, and the one outcome every
// command ends in.
#include "options.h"

#include <gtest/gtest.h>

#include "outcome.h"

namespace kelpack {
namespace {

TEST(ReadArguments, MeansTheSameForEveryCommand) {
    const std::vector<OptionSpec> options = {{"--flag", nullptr, nullptr, true},
                                             {"--output", "-o", "FILE", false},
                                             {"--many", nullptr, "N", true}};
    struct Case {
        std::vector<std::string> args;
        bool takesRest;
        const char* why;      // "" when read
        const char* taken;    // each option handed over, as name=value;
        const char* rest;     // positional | rest
    };
    const Case cases[] = {
        {{"a", "-o", "x", "--many=1", "--many", "2", "--flag", "b"}, false, "", "--output=x;--many=1;--many=2;--flag=;", "a b|"},
        {{"--output=", "a"}, false, "", "--output=;", "a|"},
        {{"--flag=1"}, false, "unknown option --flag=1", "", "|"},
        {{"-oX"}, false, "unknown option -oX", "", "|"},
        {{"--frob", "--flag"}, false, "unknown option --frob", "", "|"},
        {{"-o"}, false, "--output needs a value", "", "|"},
        {{"-o", "x", "--output", "y"}, false, "--output is given twice", "--output=x;", "|"},
        // A value is taken whatever it looks like; help counts only where an option may stand.
        {{"-o", "-h", "-"}, false, "", "--output=-h;", "-|"},
        {{"a", "--help", "--frob"}, false, "", "", "a|"},
        {{"a", "--", "-o", "--frob"}, true, "", "", "a|-o --frob"},
        {{"--"}, false, "unknown option --", "", "|"},
        // The handler's own refusal ends the reading.
        {{"--many", "bad", "--many", "2"}, false, "bad value", "", "|"},
    };
    for (const Case& c : cases) {
        std::string taken, why;
        auto take = [&](const std::string& name, const std::string& value, std::string* reason) {
            if (value == "bad") {
                *reason = "bad value";
                return false;
            }
            taken += name + "=" + value + ";";
            return true;
        };
        Arguments a;
        bool ok = ReadArguments(c.args, options, c.takesRest, take, &a, &why);
        std::string rest;
        for (const std::string& p : a.positional) rest += (rest.empty() ? "" : " ") + p;
        rest += "|";
        for (std::size_t i = 0; i < a.rest.size(); ++i) rest += (i ? " " : "") + a.rest[i];
        EXPECT_EQ(ok, std::string(c.why).empty()) << c.why;
        EXPECT_EQ(why, c.why);
        EXPECT_EQ(taken, c.taken) << c.why;
        if (ok) {
            EXPECT_EQ(rest, c.rest);
        }
    }
}

TEST(HeadedLines, PutTheTextAtTheColumnOrUnderALongHead) {
    EXPECT_EQ(HeadedLines({{"--json", "one object"}, {"-o, --output-dir DIR", "the folder\nto write to"}}, 17),
              "  --json         one object\n"
              "  -o, --output-dir DIR\n"
              "                 the folder\n"
              "                 to write to\n");
}

TEST(Outcome, KeepsTheWorstExitCodeAndTellsItOnce) {
    Outcome o;
    o.Fail(kExitRejected, "a: rejected");
    o.FailOnce(kExitRead, "b: cannot read");
    o.FailOnce(kExitRead, "b: cannot read");
    o.Fail(kExitRejected, "c: rejected");
    o.Warn("w");
    o.Warn("w");
    o.notes.push_back("a note");
    o.output = "out\n";
    EXPECT_EQ(o.exitCode, kExitRead);
    o.nothingWritten = true;
    std::string out, err;
    PrintOutcome(o, &out, &err);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "kelpack: warning: w\nkelpack: error: a: rejected\nkelpack: error: b: cannot read\n"
                   "kelpack: error: c: rejected\nkelpack: nothing was written\n");
    o.Raise(kExitUsage);
    o.Raise(kExitBadImage);
    EXPECT_EQ(o.exitCode, kExitUsage);

    Outcome ok;
    ok.Warn("w");
    ok.notes.push_back("n");
    ok.output = "done\n";
    ok.nothingWritten = true;  // said only of a failure
    out.clear();
    err.clear();
    PrintOutcome(ok, &out, &err);
    EXPECT_EQ(out, "done\n");
    EXPECT_EQ(err, "kelpack: warning: w\nkelpack: note: n\n");
}

}  // namespace
}  // namespace kelpack
