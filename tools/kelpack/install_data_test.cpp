// The installation data: a record written and read back is the record; the
// header's fields lie where the device's installer reads them; damage and
// records the format cannot hold are refused with the reason.
#include "install_data.h"

#include <gtest/gtest.h>

#include <functional>

#include "le_bytes.h"

namespace kelpack {
namespace {

CeInstall Sample() {
    CeInstall in;
    in.appName = "Game";
    in.provider = "Example Software";
    in.processor = kCeProcessorArm;
    in.minMajor = 4, in.minMinor = 20, in.maxMajor = 5, in.maxMinor = 2, in.minBuild = 3, in.maxBuild = 9;
    in.unsupported = {"HPC", "Palm PC2"};
    in.dirs = {{1, {"%CE1%", "Game"}}, {2, {"%CE2%"}}, {3, {"%CE1%", "Game", "Data"}}};
    in.files = {{1, 1, 0, "Game.exe"}, {2, 2, kCeFileShared | kCeFileKeepNewer, "Kel.dll"}, {3, 3, kCeFileNoSkip, "a.kel"}};
    in.keys = {{1, kCeRootClassesRoot, {"KelFile10", "Shell", "Open", "Command"}}, {2, kCeRootLocalMachine, {".kel"}}};
    CeRegValue text{1, 1, true, kCeRegString, "", {'"', '%', 'I', '"', 0}};
    CeRegValue dword{2, 2, false, kCeRegDword | kCeRegKeepExisting, "Port", {1, 2, 0, 0}};
    CeRegValue empty{3, 2, false, kCeRegBinary, "Empty", {}};
    in.values = {text, dword, empty};
    in.links = {{1, 11, 1, true, {"Game.lnk"}}, {2, 0, 3, false, {"Data", "Folder.lnk"}}};
    return in;
}

void ExpectSame(const CeInstall& a, const CeInstall& b) {
    EXPECT_EQ(a.appName, b.appName);
    EXPECT_EQ(a.provider, b.provider);
    EXPECT_EQ(a.processor, b.processor);
    EXPECT_EQ(std::vector<std::uint32_t>({a.minMajor, a.minMinor, a.maxMajor, a.maxMinor, a.minBuild, a.maxBuild}),
              std::vector<std::uint32_t>({b.minMajor, b.minMinor, b.maxMajor, b.maxMinor, b.minBuild, b.maxBuild}));
    EXPECT_EQ(a.unsupported, b.unsupported);
    ASSERT_EQ(a.dirs.size(), b.dirs.size());
    for (std::size_t i = 0; i < a.dirs.size(); ++i) {
        EXPECT_EQ(a.dirs[i].id, b.dirs[i].id);
        EXPECT_EQ(a.dirs[i].path, b.dirs[i].path);
    }
    ASSERT_EQ(a.files.size(), b.files.size());
    for (std::size_t i = 0; i < a.files.size(); ++i) {
        EXPECT_EQ(a.files[i].id, b.files[i].id);
        EXPECT_EQ(a.files[i].dir, b.files[i].dir);
        EXPECT_EQ(a.files[i].flags, b.files[i].flags);
        EXPECT_EQ(a.files[i].name, b.files[i].name);
    }
    ASSERT_EQ(a.keys.size(), b.keys.size());
    for (std::size_t i = 0; i < a.keys.size(); ++i) {
        EXPECT_EQ(a.keys[i].id, b.keys[i].id);
        EXPECT_EQ(a.keys[i].root, b.keys[i].root);
        EXPECT_EQ(a.keys[i].path, b.keys[i].path);
    }
    ASSERT_EQ(a.values.size(), b.values.size());
    for (std::size_t i = 0; i < a.values.size(); ++i) {
        EXPECT_EQ(a.values[i].id, b.values[i].id);
        EXPECT_EQ(a.values[i].key, b.values[i].key);
        EXPECT_EQ(a.values[i].substitute, b.values[i].substitute);
        EXPECT_EQ(a.values[i].type, b.values[i].type);
        EXPECT_EQ(a.values[i].name, b.values[i].name);
        EXPECT_EQ(a.values[i].data, b.values[i].data);
    }
    ASSERT_EQ(a.links.size(), b.links.size());
    for (std::size_t i = 0; i < a.links.size(); ++i) {
        EXPECT_EQ(a.links[i].id, b.links[i].id);
        EXPECT_EQ(a.links[i].base, b.links[i].base);
        EXPECT_EQ(a.links[i].target, b.links[i].target);
        EXPECT_EQ(a.links[i].toFile, b.links[i].toFile);
        EXPECT_EQ(a.links[i].path, b.links[i].path);
    }
}

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}
std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) { return static_cast<std::uint16_t>(b.at(at) | b.at(at + 1) << 8); }

TEST(InstallData, ARecordReadsBackAsWritten) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(LayOutInstallData(Sample(), &bytes, &error)) << error;
    CeInstall back;
    ASSERT_TRUE(ReadInstallData(bytes, &back, &error)) << error;
    ExpectSame(Sample(), back);

    CeInstall bare;  // no sections at all, no unsupported list
    bare.appName = "A";
    ASSERT_TRUE(LayOutInstallData(bare, &bytes, &error)) << error;
    ASSERT_TRUE(ReadInstallData(bytes, &back, &error)) << error;
    ExpectSame(bare, back);
    EXPECT_EQ(U16(bytes, 92), 0);
    EXPECT_EQ(U16(bytes, 94), 0);
}

TEST(InstallData, TheHeaderSaysWhereEverythingIs) {
    std::vector<std::uint8_t> b;
    std::string error;
    ASSERT_TRUE(LayOutInstallData(Sample(), &b, &error)) << error;
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "MSCE");
    EXPECT_EQ(U32(b, 8), b.size());
    EXPECT_EQ(U32(b, 16), 1u);
    EXPECT_EQ(U32(b, 20), 2577u);
    EXPECT_EQ(std::vector<std::uint32_t>({U32(b, 24), U32(b, 28), U32(b, 32), U32(b, 36), U32(b, 40), U32(b, 44)}),
              std::vector<std::uint32_t>({4, 20, 5, 2, 3, 9}));
    // Pieces used twice ("%CE1%", "Game") are one string each: %CE1% Game %CE2% Data KelFile10 Shell Open
    // Command .kel Game.lnk Folder.lnk.
    EXPECT_EQ(std::vector<int>({U16(b, 48), U16(b, 50), U16(b, 52), U16(b, 54), U16(b, 56), U16(b, 58)}),
              std::vector<int>({11, 3, 3, 2, 3, 2}));
    EXPECT_EQ(U16(b, 84), 100);
    EXPECT_EQ(U16(b, 86), 5);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[100])), "Game");
    EXPECT_EQ(U16(b, 88), 105);
    EXPECT_EQ(U16(b, 90), 17);
    EXPECT_EQ(U16(b, 92), 122);
    EXPECT_EQ(U16(b, 94), 14);  // "HPC\0Palm PC2\0\0"
    // STRINGS follows, then each section where the header says, in its order.
    EXPECT_EQ(U32(b, 60), 136u);
    EXPECT_EQ(U16(b, 136), 1);
    EXPECT_EQ(U16(b, 138), 6);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[140])), "%CE1%");
    for (int i = 0; i < 5; ++i) EXPECT_LT(U32(b, 60 + 4 * i), U32(b, 64 + 4 * i));
    // The first FILES entry: id, directory, id again, flags, name.
    std::size_t f = U32(b, 68);
    EXPECT_EQ(std::vector<std::uint32_t>({U16(b, f), U16(b, f + 2), U16(b, f + 4), U32(b, f + 6), U16(b, f + 10)}),
              std::vector<std::uint32_t>({1, 1, 1, 0, 9}));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[f + 12])), "Game.exe");
}

TEST(InstallData, TheWriterRefusesWhatTheFormatCannotHold) {
    struct Case {
        const char* what;
        std::function<void(CeInstall&)> change;
        const char* reason;
    };
    const Case cases[] = {
        {"a file in no directory", [](CeInstall& in) { in.files[0].dir = 9; }, "names directory 9"},
        {"a value under no key", [](CeInstall& in) { in.values[0].key = 7; }, "names key 7"},
        {"a link to no file", [](CeInstall& in) { in.links[0].target = 8; }, "points at file 8"},
        {"an empty path piece", [](CeInstall& in) { in.dirs[0].path.push_back(""); }, "1 to 65534 bytes"},
        {"a directory without path", [](CeInstall& in) { in.dirs[0].path.clear(); }, "has no path"},
        {"a NUL in a file name", [](CeInstall& in) { in.files[0].name = std::string("a\0b", 3); }, "without NUL"},
        {"a value too long", [](CeInstall& in) { in.values[0].data.assign(70000, 'x'); }, "more than 65535"},
        {"a name past 64 KiB", [](CeInstall& in) { in.provider.assign(70000, 'p'); }, "first 64 KiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CeInstall in = Sample();
        c.change(in);
        std::vector<std::uint8_t> bytes;
        std::string error;
        EXPECT_FALSE(LayOutInstallData(in, &bytes, &error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

TEST(InstallData, TheReaderRefusesDamageWithTheReason) {
    std::vector<std::uint8_t> good;
    std::string error;
    ASSERT_TRUE(LayOutInstallData(Sample(), &good, &error)) << error;
    const std::size_t dirs = U32(good, 64);
    struct Case {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> damage;
        const char* reason;
    };
    const Case cases[] = {
        {"another signature", [](auto& b) { b[3] = 'X'; }, "MSCE"},
        {"a longer stated length", [](auto& b) { testsupport::PutU32(b, 8, static_cast<std::uint32_t>(b.size() + 1)); }, "says it is"},
        {"a directory naming no string", [&](auto& b) { testsupport::PutU16(b, dirs + 4, 99); }, "names string 99"},
        {"a string given twice", [](auto& b) { testsupport::PutU16(b, 136 + 4 + 6, 1); }, "given twice"},
        {"more files than there are", [](auto& b) { testsupport::PutU16(b, 52, 900); }, "FILES entry"},
        {"the name past the end", [](auto& b) { testsupport::PutU16(b, 84, 0xFFF0); }, "APPNAME runs past"},
        {"path ids without their 0", [&](auto& b) { testsupport::PutU16(b, dirs + 2, 2); }, "do not end in 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> bad = good;
        c.damage(bad);
        CeInstall back;
        EXPECT_FALSE(ReadInstallData(bad, &back, &error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    // Every shorter file, its length field kept true, fails cleanly.
    for (std::size_t n = 0; n < good.size(); ++n) {
        std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        if (n >= 12) testsupport::PutU32(cut, 8, static_cast<std::uint32_t>(n));
        CeInstall back;
        EXPECT_FALSE(ReadInstallData(cut, &back, &error)) << n;
    }
}

TEST(CeMemberName, EightCharactersOfTheStemPaddedWithZeros) {
    struct Case {
        const char* name;
        std::uint16_t id;
        const char* member;
    };
    const Case cases[] = {
        {"Game.exe", 1, "0000Game.001"}, {"Kel.dll", 2, "00000Kel.002"}, {"My Long Game.exe", 12, "MyLongGa.012"},
        {"a.b.c", 999, "000000ab.999"},  {"Game", 0, "0000Game.000"},   {"\xc3\xa9t\xc3\xa9.exe", 5, "0000000t.005"},
        {".profile", 3, "0profile.003"},
    };
    for (const Case& c : cases) EXPECT_EQ(CeMemberName(c.name, c.id), c.member) << c.name;
}

}  // namespace
}  // namespace kelpack
