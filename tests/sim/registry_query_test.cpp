// RegQueryValueExW's size and type rules against a small buffer, as Wine 8
// answers them (each row was run there with the same poisoned buffer): the
// cases the launcher's 4-byte port read and sized path read meet.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sim.h"

namespace {

const std::u16string kKey = u"Software\\Probe";
constexpr platform::BYTE kPoison = 0xAB;
constexpr platform::DWORD kUntouched = 0xDEADBEEF;

struct Answer {
    platform::LONG status;
    platform::DWORD type;
    platform::DWORD size;
    std::string bytes;   // the whole 8-byte buffer afterwards
};

Answer Query(platform::DWORD storedType, const std::string& stored, platform::DWORD offered) {
    sim::Reset();
    sim::SetRegistryValue(platform::HKEY_LOCAL_MACHINE, kKey, u"v", storedType, stored);
    platform::HKEY key = nullptr;
    EXPECT_EQ(platform::RegOpenKeyExW(platform::HKEY_LOCAL_MACHINE, kKey.c_str(), 0, 0, &key), 0);
    platform::BYTE buffer[8];
    std::memset(buffer, kPoison, sizeof buffer);
    Answer answer{0, kUntouched, offered, {}};
    answer.status = platform::RegQueryValueExW(key, u"v", nullptr, &answer.type, buffer, &answer.size);
    platform::RegCloseKey(key);
    answer.bytes.assign(reinterpret_cast<const char*>(buffer), sizeof buffer);
    return answer;
}

std::string Poisoned(const std::string& head) { return head + std::string(8 - head.size(), '\xAB'); }

TEST(RegistryQuery, FourByteBufferAsWineAnswers) {
    struct Case {
        platform::DWORD type;
        std::string stored;
        Answer expected;
    } cases[] = {
        {platform::REG_BINARY, std::string("\x10\x27", 2), {0, platform::REG_BINARY, 2, Poisoned(std::string("\x10\x27", 2))}},
        {platform::REG_BINARY, std::string("\x10\x27\x33", 3), {0, platform::REG_BINARY, 3, Poisoned("\x10\x27\x33")}},
        {platform::REG_DWORD, std::string("\x10\x27\x33\x44", 4), {0, platform::REG_DWORD, 4, Poisoned("\x10\x27\x33\x44")}},
        // Too big: nothing copied, but the type and the size needed are reported.
        {platform::REG_BINARY, std::string("\x10\x27\x33\x44\x55", 5), {234, platform::REG_BINARY, 5, Poisoned("")}},
        {platform::REG_BINARY, std::string(), {0, platform::REG_BINARY, 0, Poisoned("")}},
        // Strings with no room for a wide NUL behind them come back as stored,
        // or not at all (the launcher never offers more room than a value needs).
        {platform::REG_SZ, std::string("1\0\0\0", 4), {0, platform::REG_SZ, 4, Poisoned(std::string("1\0\0\0", 4))}},
        {platform::REG_SZ, std::string("1\0" "2", 3), {0, platform::REG_SZ, 3, Poisoned(std::string("1\0" "2", 3))}},
        {platform::REG_SZ, std::string("1\0" "2\0\0\0", 6), {234, platform::REG_SZ, 6, Poisoned("")}},
        // Binary data is never terminated.
        {platform::REG_BINARY, std::string("1\0", 2), {0, platform::REG_BINARY, 2, Poisoned(std::string("1\0", 2))}},
    };
    for (const auto& c : cases) {
        Answer got = Query(c.type, c.stored, 4);
        SCOPED_TRACE("type " + std::to_string(c.type) + ", " + std::to_string(c.stored.size()) + " bytes");
        EXPECT_EQ(got.status, c.expected.status);
        EXPECT_EQ(got.type, c.expected.type);
        EXPECT_EQ(got.size, c.expected.size);
        EXPECT_EQ(got.bytes, c.expected.bytes);
    }
}

TEST(RegistryQuery, SmallerBuffersAndMissingValues) {
    Answer got = Query(platform::REG_DWORD, std::string("\x10\x27\x33\x44", 4), 2);
    EXPECT_EQ(got.status, 234);
    EXPECT_EQ(got.type, platform::REG_DWORD);
    EXPECT_EQ(got.size, 4u);
    EXPECT_EQ(got.bytes, Poisoned(""));

    // A value that is not there leaves type, size and buffer alone.
    sim::Reset();
    platform::HKEY key = nullptr;
    ASSERT_EQ(platform::RegCreateKeyExW(platform::HKEY_LOCAL_MACHINE, kKey.c_str(), 0, nullptr, 0, 0, nullptr, &key,
                                        nullptr),
              0);
    platform::BYTE buffer[4];
    std::memset(buffer, kPoison, sizeof buffer);
    platform::DWORD type = kUntouched, size = 4;
    EXPECT_EQ(platform::RegQueryValueExW(key, u"missing", nullptr, &type, buffer, &size), 2);
    EXPECT_EQ(type, kUntouched);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), std::string(4, '\xAB'));
    platform::RegCloseKey(key);
    EXPECT_EQ(sim::OpenKeyCount(), 0);
}

}  // namespace
