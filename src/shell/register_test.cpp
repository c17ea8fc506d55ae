// File-type registration against the simulated registry.
#include "shell/register.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/host/sim.h"

namespace {

using platform::HKEY_CLASSES_ROOT;

std::u16string Value(const std::u16string& key) {
    return sim::GetRegistryString(HKEY_CLASSES_ROOT, key, u"").value_or(u"<missing>");
}

class RegisterTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
};

TEST_F(RegisterTest, WritesTheFiveEntriesInOrder) {
    sim::SetLauncherPath(u"\\Windows\\Start.exe");
    shell::RegisterFileType();
    EXPECT_EQ(Value(u"KelFile10"), u"Kel Application");
    EXPECT_EQ(Value(u"KelFile10\\Shell\\Open\\Command"), u"\"\\Windows\\Start.exe\" \"%1\"");
    EXPECT_EQ(Value(u"KelFile10\\DefaultIcon"), u"\\Windows\\Start.exe,-50");
    EXPECT_EQ(Value(u"KelFile10\\DLL"), u"\\Windows\\Start.DLL");
    EXPECT_EQ(Value(u".kel"), u"KelFile10");

    std::vector<std::string> created;
    for (const std::string& call : sim::CallLog()) {
        if (call.rfind("RegCreateKeyExW", 0) == 0) created.push_back(call);
    }
    std::vector<std::string> expected = {
        "RegCreateKeyExW(KelFile10)", "RegCreateKeyExW(KelFile10\\Shell\\Open\\Command)",
        "RegCreateKeyExW(KelFile10\\DefaultIcon)", "RegCreateKeyExW(KelFile10\\DLL)", "RegCreateKeyExW(.kel)"};
    EXPECT_EQ(created, expected);
    EXPECT_EQ(sim::OpenKeyCount(), 0);

    // REG_SZ with the terminator counted in the size.
    auto stored = sim::GetRegistryValue(HKEY_CLASSES_ROOT, u"KelFile10", u"");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, platform::REG_SZ);
    EXPECT_EQ(stored->bytes.size(), (15u + 1u) * 2u);
}

TEST_F(RegisterTest, RunningTwiceLeavesTheSameValuesOverwritingOldOnes) {
    sim::SetRegistryString(HKEY_CLASSES_ROOT, u".kel", u"", u"SomethingElse");
    shell::RegisterFileType();
    std::u16string first = Value(u"KelFile10\\Shell\\Open\\Command");
    shell::RegisterFileType();
    EXPECT_EQ(Value(u"KelFile10\\Shell\\Open\\Command"), first);
    EXPECT_EQ(Value(u".kel"), u"KelFile10");
}

TEST_F(RegisterTest, AFailingKeyLeavesOnlyItsRowOut) {
    sim::Fail("RegCreateKeyExW", 4);
    shell::RegisterFileType();
    EXPECT_FALSE(sim::RegistryKeyExists(HKEY_CLASSES_ROOT, u"KelFile10\\DLL"));
    EXPECT_EQ(Value(u".kel"), u"KelFile10");
    EXPECT_EQ(Value(u"KelFile10\\DefaultIcon"), u"\\Windows\\kel.exe,-50");
}

TEST_F(RegisterTest, LongPathsAreWrittenWholeAndUnknownPathsNotAtAll) {
    // Far beyond a 253-character buffer: the registry must get the real path.
    std::u16string longPath = u"\\" + std::u16string(600, u'p') + u"\\Shop.exe";
    sim::SetLauncherPath(longPath);
    shell::RegisterFileType();
    EXPECT_EQ(Value(u"KelFile10\\Shell\\Open\\Command"), u"\"" + longPath + u"\" \"%1\"");
    EXPECT_EQ(Value(u"KelFile10\\DLL"), u"\\" + std::u16string(600, u'p') + u"\\Shop.DLL");

    // Without a path, nothing that depends on it is written.
    sim::Reset();
    sim::Fail("GetModuleFileNameW", 1, -1);
    shell::RegisterFileType();
    EXPECT_EQ(Value(u"KelFile10"), u"Kel Application");
    EXPECT_EQ(Value(u".kel"), u"KelFile10");
    EXPECT_FALSE(sim::RegistryKeyExists(HKEY_CLASSES_ROOT, u"KelFile10\\Shell\\Open\\Command"));
    EXPECT_FALSE(sim::RegistryKeyExists(HKEY_CLASSES_ROOT, u"KelFile10\\DLL"));
}

TEST(EnginePath, ReplacesTheLastExtension) {
    auto engine = [](const char16_t* path) {
        char16_t* result = shell::EnginePathFor(path);
        std::u16string copy(result);
        std::free(result);
        return copy;
    };
    EXPECT_EQ(engine(u"\\Program Files\\Shop\\Shop.exe"), u"\\Program Files\\Shop\\Shop.DLL");
    EXPECT_EQ(engine(u"\\a.b\\c.d.exe"), u"\\a.b\\c.d.DLL");
    // A dot in a directory name is taken when the file has none.
    EXPECT_EQ(engine(u"\\a.b\\start"), u"\\a.DLL");
    EXPECT_EQ(engine(u"\\Windows\\start"), u"\\Windows\\start");
    // The first character is never the dot.
    EXPECT_EQ(engine(u".exe"), u".exe");
    EXPECT_EQ(engine(u"x.exe"), u"x.DLL");
}

// The trigger sees the merged command line; only a blank one or a "+" with nothing but spaces after it registers.
TEST(RegistrationTrigger, BlankRegistersAndGoesOnLonePlusRegistersOnly) {
    using shell::Registration;
    EXPECT_EQ(shell::RegistrationFor(u""), Registration::kRegisterAndGoOn);
    EXPECT_EQ(shell::RegistrationFor(u"   "), Registration::kRegisterAndGoOn);
    EXPECT_EQ(shell::RegistrationFor(u" \t\x1f"), Registration::kRegisterAndGoOn);
    EXPECT_EQ(shell::RegistrationFor(u"+"), Registration::kRegisterOnly);
    EXPECT_EQ(shell::RegistrationFor(u"+   "), Registration::kRegisterOnly);
    EXPECT_EQ(shell::RegistrationFor(u"+\t"), Registration::kNone);
    EXPECT_EQ(shell::RegistrationFor(u"+x"), Registration::kNone);
    EXPECT_EQ(shell::RegistrationFor(u" +"), Registration::kNone);
    EXPECT_EQ(shell::RegistrationFor(u" app.Main +"), Registration::kNone);
    EXPECT_EQ(shell::RegistrationFor(u"app.Main"), Registration::kNone);
}

}  // namespace
