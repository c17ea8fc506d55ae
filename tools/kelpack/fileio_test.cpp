// The checked writes on a real scratch folder: what the check is shown, and
// what is left on disk when it accepts or refuses, for one file and a set.
#include "fileio.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "output.h"

#include "scratch_dir.h"

namespace kelpack {
namespace {

namespace fs = std::filesystem;

class CheckedWrite : public testsupport::ScratchDirTest {};

TEST_F(CheckedWrite, TheCheckSeesTheFileAndARefusalLeavesTheOldState) {
    const std::string out = Path("out.exe");
    const std::vector<std::uint8_t> oldBytes = {'o', 'l', 'd'};
    const std::vector<std::uint8_t> newBytes = {'M', 'Z', 0, 1, 2, 0xFF};
    struct Case {
        bool existed;  // `out` held oldBytes before
        bool accept;
    };
    for (const Case& c : {Case{false, false}, Case{true, false}, Case{false, true}, Case{true, true}}) {
        SCOPED_TRACE(std::string(c.existed ? "over an old file, " : "no old file, ") + (c.accept ? "accepted" : "refused"));
        std::string error;
        fs::remove(out);
        if (c.existed) {
            ASSERT_TRUE(WriteFileAtomic(out, oldBytes, "", &error)) << error;
        }
        std::vector<std::uint8_t> seen;
        auto check = [&](const std::vector<std::uint8_t>& back, std::string* why) {
            seen = back;
            *why = "not as written";
            return c.accept;
        };
        WriteOutcome outcome = WriteFileChecked(out, newBytes, "", check, &error);
        EXPECT_EQ(seen, newBytes);
        EXPECT_EQ(outcome, c.accept ? WriteOutcome::kWritten : WriteOutcome::kRefused);
        if (!c.accept) {
            EXPECT_EQ(error, "not as written");
        }
        EXPECT_EQ(NamesWith(".kelpack-tmp"), std::vector<std::string>{});
        std::vector<std::uint8_t> now;
        bool present = ReadFile(out, &now, &error);
        EXPECT_EQ(present, c.accept || c.existed);
        if (present) {
            EXPECT_EQ(now, c.accept ? newBytes : oldBytes);
        }
    }
}

// A set is written whole or not at all, whichever of its steps fails, and a
// folder in a file's place is left as it was.
TEST_F(CheckedWrite, ASetFailingAtItsSecondFileLeavesTheFirstAsItWas) {
    const std::vector<std::uint8_t> oldA = {'o', 'l', 'd'}, newA = {'n', 'e', 'w'}, newB = {'B'};
    struct Case {
        const char* what;
        bool refuse;  // the second file's check refuses what it reads back
        bool folder;  // an empty folder is where the second file goes, so its move fails
        WriteOutcome outcome;
    };
    const Case cases[] = {
        {"written", false, false, WriteOutcome::kWritten},
        {"the second refused", true, false, WriteOutcome::kRefused},
        {"the second onto a folder", false, true, WriteOutcome::kFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(Path("b"));
        Put("a", oldA);
        if (c.folder) fs::create_directory(Path("b"));
        auto check = [&](std::vector<std::uint8_t>&, std::string* why) {
            *why = "refused";
            return !c.refuse;
        };
        std::vector<FileWrite> files = {{Path("a"), TemporaryPath(Path("a")), WithoutPatches(ContentOf(newA)), "", nullptr},
                                        {Path("b"), TemporaryPath(Path("b")), WithoutPatches(ContentOf(newB)), "", ReadingBack(check)}};
        std::string error;
        EXPECT_EQ(WriteFilesChecked(files, &error), c.outcome) << error;
        EXPECT_EQ(Get("a"), c.outcome == WriteOutcome::kWritten ? newA : oldA);
        EXPECT_EQ(fs::is_directory(Path("b")), c.folder);
        EXPECT_EQ(fs::exists(Path("b")), c.folder || c.outcome == WriteOutcome::kWritten);
        EXPECT_EQ(NamesWith(".kelpack-tmp"), std::vector<std::string>{});
    }
}

TEST_F(CheckedWrite, EveryOutputHasATemporaryFileOfItsOwnBesideIt) {
    const Output one(Path("out.exe")), two(Path("out.exe"));
    EXPECT_NE(one.Temporary(), two.Temporary());
    for (const Output* o : {&one, &two}) {
        EXPECT_EQ(o->Temporary().rfind(Path("out.exe.kelpack-tmp-"), 0), 0u) << o->Temporary();
    }
}

}  // namespace
}  // namespace kelpack
