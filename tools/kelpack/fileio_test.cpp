// The checked write on a real scratch folder: what the check is shown, and
// what is left on disk when it accepts or refuses.
#include "fileio.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace kelpack {
namespace {

namespace fs = std::filesystem;

TEST(CheckedWrite, TheCheckSeesTheFileAndARefusalLeavesTheOldState) {
    fs::path dir = fs::temp_directory_path() / ("kelpack_fileio_" + std::to_string(std::rand()));
    fs::create_directories(dir);
    const std::string out = (dir / "out.exe").string();
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
        EXPECT_FALSE(fs::exists(out + ".kelpack-tmp"));
        std::vector<std::uint8_t> now;
        bool present = ReadFile(out, &now, &error);
        EXPECT_EQ(present, c.accept || c.existed);
        if (present) {
            EXPECT_EQ(now, c.accept ? newBytes : oldBytes);
        }
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace
}  // namespace kelpack
