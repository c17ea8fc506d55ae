// The cabinet container: what the writer lays out reads back the same, the
// reader refuses damage with a reason, and the real cabextract takes the
// writer's cabinets and finds in them the very bytes written.
#include "cabinet.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <unistd.h>

#include "le_bytes.h"

namespace kelpack {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>((i * 31 + seed * 7 + i / 251) & 0xFF);
    return v;
}

// Files whose sizes meet the block boundary every way: empty, inside one
// block, exactly one block, and across several.
std::vector<CabFile> SampleFiles() {
    std::vector<CabFile> files;
    const std::size_t sizes[] = {1000, 0, 32768 - 1000, 1, 70001, 32768};
    for (std::size_t i = 0; i < sizeof sizes / sizeof sizes[0]; ++i) {
        CabFile f;
        f.name = "0000File." + std::to_string(100 + i);
        f.data = Pattern(sizes[i], static_cast<unsigned>(i));
        f.date = static_cast<std::uint16_t>(0x5A21 + i);
        f.time = static_cast<std::uint16_t>(0x3000 + i);
        f.attributes = i % 2 ? 0x20 : 0x01;
        files.push_back(f);
    }
    return files;
}

TEST(CabChecksum, WholeWordsAreXoredAndATailGoesInReversed) {
    struct Case {
        std::vector<std::uint8_t> bytes;
        std::uint32_t seed;
        std::uint32_t sum;
    };
    const Case cases[] = {
        {{}, 0, 0},
        {{}, 0x12345678, 0x12345678},
        {{0x01, 0x02, 0x03, 0x04}, 0, 0x04030201},
        {{0x01, 0x02, 0x03, 0x04, 0x01, 0x02, 0x03, 0x04}, 0, 0},
        {{0xAA}, 0, 0xAA},
        {{0x01, 0x02}, 0, 0x0102},
        {{0x01, 0x02, 0x03}, 0, 0x010203},
        {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}, 0xFF000000, 0xFF000000 ^ 0x04030201 ^ 0x050607},
    };
    for (const Case& c : cases) EXPECT_EQ(CabChecksum(c.bytes.data(), c.bytes.size(), c.seed), c.sum) << c.bytes.size();
}

TEST(Cabinet, WhatIsWrittenReadsBackInOrderWithItsBlocks) {
    std::vector<CabFile> files = SampleFiles();
    std::vector<std::uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(WriteCabinet(files, 0x4B45, &bytes, &error)) << error;
    Cabinet cab;
    ASSERT_TRUE(ReadCabinet(bytes, &cab, &error)) << error;
    EXPECT_EQ(cab.setId, 0x4B45);
    ASSERT_EQ(cab.folders.size(), 1u);
    std::size_t total = 0;
    for (const CabFile& f : files) total += f.data.size();
    EXPECT_EQ(cab.blocks, (total + kCabBlockBytes - 1) / kCabBlockBytes);
    ASSERT_EQ(cab.files.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].name);
        EXPECT_EQ(cab.files[i].name, files[i].name);
        EXPECT_EQ(CabFileData(cab, cab.files[i]), files[i].data);
        EXPECT_EQ(cab.files[i].date, files[i].date);
        EXPECT_EQ(cab.files[i].time, files[i].time);
        EXPECT_EQ(cab.files[i].attributes, files[i].attributes);
    }
    // The stated size is the file's.
    EXPECT_EQ(bytes[8] | bytes[9] << 8 | bytes[10] << 16 | static_cast<std::uint32_t>(bytes[11]) << 24, bytes.size());
}

TEST(Cabinet, TheWriterRefusesWhatTheFormatCannotHold) {
    std::string error;
    std::vector<std::uint8_t> bytes;
    for (const std::string& name : {std::string(), std::string(256, 'a'), std::string("a\0b", 3)}) {
        CabFile f;
        f.name = name;
        EXPECT_FALSE(WriteCabinet({f}, 0, &bytes, &error)) << name.size();
        EXPECT_NE(error.find("cannot be a name"), std::string::npos) << error;
    }
    CabFile f;
    f.name = std::string(255, 'a');
    EXPECT_TRUE(WriteCabinet({f}, 0, &bytes, &error)) << error;
}

TEST(Cabinet, TheReaderRefusesDamageWithTheReason) {
    std::vector<std::uint8_t> good;
    std::string error;
    ASSERT_TRUE(WriteCabinet(SampleFiles(), 0, &good, &error)) << error;
    const std::size_t firstBlock = good[36] | good[37] << 8 | good[38] << 16;
    struct Case {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> damage;
        const char* reason;
    };
    const Case cases[] = {
        {"another signature", [](auto& b) { b[0] = 'X'; }, "no MSCF signature"},
        {"cut short", [](auto& b) { b.resize(b.size() - 1); }, "but the file has only"},
        {"version 2", [](auto& b) { b[25] = 2; }, "not 1.x"},
        {"one of a set", [](auto& b) { testsupport::PutU16(b, 30, 2); }, "one of a set"},
        {"compressed", [](auto& b) { testsupport::PutU16(b, 42, 1); }, "compressed (MSZIP)"},
        {"a data byte changed", [&](auto& b) { b[firstBlock + 8 + 5] ^= 1; }, "checksum does not match"},
        {"a block larger than stored", [&](auto& b) { testsupport::PutU16(b, firstBlock + 6, 1); }, "stores 32768 bytes for 1"},
        {"a file past its folder", [](auto& b) { testsupport::PutU32(b, 44, 0x10000000); }, "run past its folder"},
        {"a folder that is not there", [](auto& b) { testsupport::PutU16(b, 44 + 8, 3); }, "names folder 4 of 1"},
        {"a continued file", [](auto& b) { testsupport::PutU16(b, 44 + 8, 0xFFFD); }, "another cabinet of a set"},
        {"too many blocks", [](auto& b) { testsupport::PutU16(b, 40, 40); }, "past the cabinet's end"},
        {"two folders on the same blocks",
         [](auto& b) {
             // Each folder entry written over the file table points at the same blocks.
             testsupport::PutU16(b, 26, 2);
             for (int i = 0; i < 8; ++i) b[44 + i] = b[36 + i];
         },
         "overlaps data already read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> bad = good;
        c.damage(bad);
        Cabinet cab;
        EXPECT_FALSE(ReadCabinet(bad, &cab, &error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

TEST(DosDateTime, MomentsBecomeFieldsAndOutOfRangeOnesAreHeld) {
    struct Case {
        std::int64_t seconds;
        const char* text;
    };
    const Case cases[] = {
        {315532800, "1980-01-01 00:00:00"},
        {0, "1980-01-01 00:00:00"},
        {951868799, "2000-02-29 23:59:58"},
        {1797229802, "2026-12-14 06:30:02"},
        {4354819198, "2107-12-31 23:59:58"},
        {99999999999, "2107-12-31 23:59:58"},
    };
    for (const Case& c : cases) {
        std::uint16_t date = 0, time = 0;
        DosDateTime(c.seconds, &date, &time);
        EXPECT_EQ(DosDateTimeText(date, time), c.text) << c.seconds;
    }
}

std::string Shell(const std::string& command, int* status) {
    std::string out;
    std::FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (p == nullptr) return out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    *status = ::pclose(p);
    return out;
}

// Debian's cabextract is an independent reader of the container: it tests
// the checksums, lists names and sizes, and extracts the bytes.
TEST(Cabinet, CabextractTestsListsAndExtractsWhatIsWritten) {
    int status = 0;
    Shell("command -v cabextract", &status);
    if (status != 0) GTEST_SKIP() << "cabextract is not installed (make deps installs it)";
    fs::path dir = fs::temp_directory_path() / ("kelpack_cabinet_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "out");
    std::vector<CabFile> files = SampleFiles();
    std::vector<std::uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(WriteCabinet(files, 7, &bytes, &error)) << error;
    const std::string cab = (dir / "t.cab").string();
    std::ofstream(cab, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));

    std::string tested = Shell("cabextract -t '" + cab + "'", &status);
    EXPECT_EQ(status, 0) << tested;
    EXPECT_NE(tested.find("All done, no errors."), std::string::npos) << tested;
    std::string listed = Shell("cabextract -l '" + cab + "'", &status);
    EXPECT_EQ(status, 0) << listed;
    for (const CabFile& f : files) {
        // "   70001 | 05.01.2025 06:00:08 | 0000File.104"
        std::istringstream lines(listed);
        std::string line;
        bool found = false;
        while (std::getline(lines, line))
            if (line.size() > f.name.size() && line.compare(line.size() - f.name.size(), f.name.size(), f.name) == 0) {
                found = true;
                EXPECT_EQ(std::stoul(line), f.data.size()) << line;
                std::string iso = DosDateTimeText(f.date, f.time);  // "2025-01-05 06:00:08"
                std::string when = iso.substr(8, 2) + "." + iso.substr(5, 2) + "." + iso.substr(0, 4) + iso.substr(10);
                EXPECT_NE(line.find(when), std::string::npos) << line << " lacks " << when;
            }
        EXPECT_TRUE(found) << f.name << " not listed:\n" << listed;
    }
    std::string extracted = Shell("cabextract -q -d '" + (dir / "out").string() + "' '" + cab + "'", &status);
    EXPECT_EQ(status, 0) << extracted;
    for (const CabFile& f : files) {
        std::ifstream in(dir / "out" / f.name, std::ios::binary);
        std::vector<std::uint8_t> got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(got, f.data) << f.name;
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace kelpack
