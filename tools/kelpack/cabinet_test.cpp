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
#if defined(KEL_MSZIP)
#include <zlib.h>
#endif

#include "le_bytes.h"

namespace kelpack {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>((i * 31 + seed * 7 + i / 251) & 0xFF);
    return v;
}

// The methods this kelpack writes: MSZIP only where it is built with zlib.
std::vector<CabCompression> Compressions() {
    if (kCabHasMszip) return {kCabStored, kCabMszip};
    return {kCabStored};
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
    for (CabCompression compression : Compressions()) {
        SCOPED_TRACE(CabCompressionName(compression));
        std::vector<CabFile> files = SampleFiles();
        std::vector<std::uint8_t> bytes;
        std::string error;
        ASSERT_TRUE(LayOutCabinet(files, 0x4B45, &bytes, &error, compression)) << error;
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
        EXPECT_EQ(cab.compression, std::vector<std::uint16_t>({compression}));
    }
}

#if defined(KEL_MSZIP)
// A deflate stream of `plain` behind "CK", as one MSZIP block carries it.
std::vector<std::uint8_t> MszipBlock(const std::vector<std::uint8_t>& plain) {
    std::vector<std::uint8_t> out(plain.size() + 256);
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    z.next_in = const_cast<Bytef*>(plain.data());
    z.avail_in = static_cast<uInt>(plain.size());
    z.next_out = out.data() + 2;
    z.avail_out = static_cast<uInt>(out.size() - 2);
    deflate(&z, Z_FINISH);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    out[0] = 'C';
    out[1] = 'K';
    return out;
}

// MSZIP blocks that lie about what they hold: the reader inflates no more
// than a block may hold and refuses a size the block misstates.
TEST(Cabinet, TheReaderRefusesMszipBlocksThatMisstateTheirData) {
    CabFile f;
    f.name = "0000Data.001";
    f.data = Pattern(1000, 1);
    std::vector<std::uint8_t> good;
    std::string error;
    ASSERT_TRUE(LayOutCabinet({f}, 0, &good, &error, kCabMszip)) << error;
    const std::size_t block = good[36] | good[37] << 8 | good[38] << 16;
    // The same cabinet with its one block's data replaced, the checksum left out.
    auto withBlock = [&](const std::vector<std::uint8_t>& data, std::uint16_t plain) {
        std::vector<std::uint8_t> b(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(block));
        testsupport::PutU32(b, 8, static_cast<std::uint32_t>(block + 8 + data.size()));
        b.insert(b.end(), {0, 0, 0, 0, static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(data.size() >> 8),
                           static_cast<std::uint8_t>(plain), static_cast<std::uint8_t>(plain >> 8)});
        b.insert(b.end(), data.begin(), data.end());
        return b;
    };
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        const char* reason;
    };
    std::vector<std::uint8_t> noMark = MszipBlock(f.data);
    noMark[0] = 'X';
    std::vector<std::uint8_t> cut = MszipBlock(f.data);
    cut.resize(cut.size() / 2);
    const Case cases[] = {
        {"more than it says", withBlock(MszipBlock(f.data), 999), "it inflates to 1000 bytes, but says it holds 999"},
        {"less than it says", withBlock(MszipBlock(f.data), 1001), "it inflates to 1000 bytes, but says it holds 1001"},
        {"past a block's limit", withBlock(MszipBlock(Pattern(40000, 2)), 32768), "it inflates past 32768 bytes"},
        {"no CK", withBlock(noMark, 1000), "its MSZIP data does not start with \"CK\""},
        {"a stream cut short", withBlock(cut, 1000), "its deflate stream does not end within the block"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Cabinet cab;
        EXPECT_FALSE(ReadCabinet(c.bytes, &cab, &error));
        EXPECT_NE(error.find(std::string("folder 1, data block 1: ") + c.reason), std::string::npos) << error;
    }
    Cabinet cab;
    EXPECT_TRUE(ReadCabinet(withBlock(MszipBlock(f.data), 1000), &cab, &error)) << error;
}
#endif

TEST(Cabinet, TheWriterRefusesWhatTheFormatCannotHold) {
    std::string error;
    std::vector<std::uint8_t> bytes;
    for (const std::string& name : {std::string(), std::string(256, 'a'), std::string("a\0b", 3)}) {
        CabFile f;
        f.name = name;
        EXPECT_FALSE(LayOutCabinet({f}, 0, &bytes, &error)) << name.size();
        EXPECT_NE(error.find("cannot be a name"), std::string::npos) << error;
    }
    CabFile f;
    f.name = std::string(255, 'a');
    EXPECT_TRUE(LayOutCabinet({f}, 0, &bytes, &error)) << error;
}

TEST(Cabinet, TheReaderRefusesDamageWithTheReason) {
    std::vector<std::uint8_t> good;
    std::string error;
    ASSERT_TRUE(LayOutCabinet(SampleFiles(), 0, &good, &error)) << error;
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
        {"compressed with LZX", [](auto& b) { testsupport::PutU16(b, 42, 3); }, "compressed with LZX"},
        {"stored data called MSZIP", [](auto& b) { testsupport::PutU16(b, 42, 1); },
         kCabHasMszip ? "does not start with \"CK\"" : "built without zlib"},
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
    for (CabCompression compression : Compressions()) {
        SCOPED_TRACE(CabCompressionName(compression));
        std::vector<CabFile> files = SampleFiles();
        std::vector<std::uint8_t> bytes;
        std::string error;
        ASSERT_TRUE(LayOutCabinet(files, 7, &bytes, &error, compression)) << error;
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
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace kelpack
