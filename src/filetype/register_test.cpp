// File-type registration against the simulated registry.
#include "filetype/register.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "sim.h"

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
    filetype::RegisterFileType();
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
        "RegCreateKeyExW(key:HKCR, \"KelFile10\", 0, null, 0x0, 0x0, null, ptr, ptr)",
        "RegCreateKeyExW(key:HKCR, \"KelFile10\\Shell\\Open\\Command\", 0, null, 0x0, 0x0, null, ptr, ptr)",
        "RegCreateKeyExW(key:HKCR, \"KelFile10\\DefaultIcon\", 0, null, 0x0, 0x0, null, ptr, ptr)",
        "RegCreateKeyExW(key:HKCR, \"KelFile10\\DLL\", 0, null, 0x0, 0x0, null, ptr, ptr)",
        "RegCreateKeyExW(key:HKCR, \".kel\", 0, null, 0x0, 0x0, null, ptr, ptr)"};
    EXPECT_EQ(created, expected);
    EXPECT_EQ(sim::OpenKeyCount(), 0);
    // Each default value as REG_SZ (1), its size counting the terminator, nothing reserved.
    EXPECT_EQ(sim::CallCount("RegSetValueExW(key:HKCR\\KelFile10, null, 0, 1, ptr, 32)"), 1);
    EXPECT_EQ(sim::CallCount("RegSetValueExW"), 5);

    // REG_SZ with the terminator counted in the size.
    auto stored = sim::GetRegistryValue(HKEY_CLASSES_ROOT, u"KelFile10", u"");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, platform::REG_SZ);
    EXPECT_EQ(stored->bytes.size(), (15u + 1u) * 2u);
}

TEST_F(RegisterTest, RunningTwiceLeavesTheSameValuesOverwritingOldOnes) {
    sim::SetRegistryString(HKEY_CLASSES_ROOT, u".kel", u"", u"SomethingElse");
    filetype::RegisterFileType();
    std::u16string first = Value(u"KelFile10\\Shell\\Open\\Command");
    filetype::RegisterFileType();
    EXPECT_EQ(Value(u"KelFile10\\Shell\\Open\\Command"), first);
    EXPECT_EQ(Value(u".kel"), u"KelFile10");
}

TEST_F(RegisterTest, AFailingKeyLeavesOnlyItsRowOut) {
    sim::Fail("RegCreateKeyExW", 4);
    filetype::RegisterFileType();
    EXPECT_FALSE(sim::RegistryKeyExists(HKEY_CLASSES_ROOT, u"KelFile10\\DLL"));
    EXPECT_EQ(Value(u".kel"), u"KelFile10");
    EXPECT_EQ(Value(u"KelFile10\\DefaultIcon"), u"\\Windows\\kel.exe,-50");
}

TEST_F(RegisterTest, LongPathsAreWrittenWholeAndUnknownPathsNotAtAll) {
    // Far beyond a 253-character buffer: the registry must get the real path.
    std::u16string longPath = u"\\" + std::u16string(600, u'p') + u"\\Shop.exe";
    sim::SetLauncherPath(longPath);
    filetype::RegisterFileType();
    EXPECT_EQ(Value(u"KelFile10\\Shell\\Open\\Command"), u"\"" + longPath + u"\" \"%1\"");
    EXPECT_EQ(Value(u"KelFile10\\DLL"), u"\\" + std::u16string(600, u'p') + u"\\Shop.DLL");

    // Without a path, nothing that depends on it is written.
    sim::Reset();
    sim::Fail("GetModuleFileNameW", 1, -1);
    filetype::RegisterFileType();
    EXPECT_EQ(Value(u"KelFile10"), u"Kel Application");
    EXPECT_EQ(Value(u".kel"), u"KelFile10");
    EXPECT_FALSE(sim::RegistryKeyExists(HKEY_CLASSES_ROOT, u"KelFile10\\Shell\\Open\\Command"));
    EXPECT_FALSE(sim::RegistryKeyExists(HKEY_CLASSES_ROOT, u"KelFile10\\DLL"));
}

}  // namespace
