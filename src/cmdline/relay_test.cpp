#include "cmdline/relay.h"
#include "cmdline/relay_message.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "process_state.h"
#include "relay_or_activate.h"
#include "sim.h"

namespace {

const std::u16string kKey = u"Software\\Norvane\\KelVM";

// Text placed so that its last byte is the last readable one: the page
// behind it is inaccessible, and any read past the end faults.
class GuardedPage {
public:
    GuardedPage() {
        page_ = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
        void* map = ::mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        base_ = map == MAP_FAILED ? nullptr : static_cast<char*>(map);
        if (base_ != nullptr) ::mprotect(base_ + page_, page_, PROT_NONE);
    }
    ~GuardedPage() {
        if (base_ != nullptr) ::munmap(base_, 2 * page_);
    }
    bool ok() const { return base_ != nullptr; }
    // Copies the bytes to the very end of the readable page.
    const char* Bytes(const std::string& bytes) {
        char* at = base_ + page_ - bytes.size();
        std::memcpy(at, bytes.data(), bytes.size());
        return at;
    }
    const char16_t* Wide(const std::u16string& text) {
        return reinterpret_cast<const char16_t*>(
            Bytes(std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2)));
    }

private:
    size_t page_ = 0;
    char* base_ = nullptr;
};

TEST(Utf8Equal, ByteForms) {
    EXPECT_TRUE(cmdline::Utf8Equal(u"acommand", "acommand"));
    EXPECT_TRUE(cmdline::Utf8Equal(u"", ""));
    EXPECT_TRUE(cmdline::Utf8Equal(u"\x00E9", "\xC3\xA9"));
    EXPECT_TRUE(cmdline::Utf8Equal(u"\x20AC", "\xE2\x82\xAC"));
    EXPECT_TRUE(cmdline::Utf8Equal(u"a\x00E9z\x20AC", "a\xC3\xA9z\xE2\x82\xAC"));
    // The further bytes' 10xxxxxx form is not checked, only their low six bits.
    EXPECT_TRUE(cmdline::Utf8Equal(u"\x00E9", "\xC3\x29"));
    EXPECT_TRUE(cmdline::Utf8Equal(u"\x20AC", "\xE2\x02\x6C"));
    // Whole-text equality, case-sensitive.
    EXPECT_FALSE(cmdline::Utf8Equal(u"acomman", "acommand"));
    EXPECT_FALSE(cmdline::Utf8Equal(u"acommandx", "acommand"));
    EXPECT_FALSE(cmdline::Utf8Equal(u"Acommand", "acommand"));
    EXPECT_FALSE(cmdline::Utf8Equal(u"", "a"));
    EXPECT_FALSE(cmdline::Utf8Equal(u"a", ""));
    // A character is compared whole, not by its low byte.
    EXPECT_FALSE(cmdline::Utf8Equal(u"\x0161", "a"));
    EXPECT_FALSE(cmdline::Utf8Equal(u"\x00E9", "\xE9"));
    EXPECT_FALSE(cmdline::Utf8Equal(u"\x00E9", "\xC3\xA8"));
    // Four-byte leads and stray continuation bytes never match.
    EXPECT_FALSE(cmdline::Utf8Equal(u"\xD83D\xDE00", "\xF0\x9F\x98\x80"));
    EXPECT_FALSE(cmdline::Utf8Equal(u"x", "\xF0"));
    EXPECT_FALSE(cmdline::Utf8Equal(u"\x0080", "\x80"));
    EXPECT_FALSE(cmdline::Utf8Equal(u"\x00BF", "\xBF"));
    EXPECT_FALSE(cmdline::Utf8Equal(u"\x00FF", "\xFF"));
    // A sequence cut by the NUL is unequal.
    EXPECT_FALSE(cmdline::Utf8Equal(u"\x0003", "\xC0"));
    EXPECT_FALSE(cmdline::Utf8Equal(u"\x2000", "\xE2\x80"));
}

TEST(Utf8Equal, NeverReadsPastANul) {
    GuardedPage page;
    ASSERT_TRUE(page.ok());
    // Sequences whose further bytes are missing: the NUL is the page's last byte.
    EXPECT_FALSE(cmdline::Utf8Equal(u"\x00E9", page.Bytes(std::string("\xC3", 2))));
    EXPECT_FALSE(cmdline::Utf8Equal(u"\x20AC", page.Bytes(std::string("\xE2", 2))));
    EXPECT_FALSE(cmdline::Utf8Equal(u"\x20AC", page.Bytes(std::string("\xE2\x82", 3))));
    EXPECT_FALSE(cmdline::Utf8Equal(u"ab", page.Bytes(std::string("a", 2))));
    EXPECT_TRUE(cmdline::Utf8Equal(u"a\x00E9", page.Bytes(std::string("a\xC3\xA9", 4))));
    // The wide side ends at the page too.
    EXPECT_FALSE(cmdline::Utf8Equal(page.Wide(std::u16string(u"a\0", 2)), "ab"));
    EXPECT_TRUE(cmdline::Utf8Equal(page.Wide(std::u16string(u"ab\0", 3)), "ab"));
}

class RelayTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        cmdline::g_socketLayerState = cmdline::kSocketLayerNotStarted;
    }
    void TearDown() override {
        // Whatever a relay did, no socket or registry key may be left open.
        EXPECT_EQ(sim::OpenSocketCount(), 0);
        EXPECT_EQ(sim::OpenKeyCount(), 0);
        sim::Reset();
    }

    static void SetPort(uint32_t port) {
        std::string bytes(reinterpret_cast<const char*>(&port), 4);
        sim::SetRegistryValue(platform::HKEY_LOCAL_MACHINE, kKey, u"ServerPort", platform::REG_DWORD, bytes);
    }

    // Runs the relay on what the scan of line found; line holds the relay option.
    static int RelayLine(const std::u16string& line) {
        cmdline::ScanResult scan = cmdline::ScanCommandLine(line.c_str());
        EXPECT_EQ(scan.kind, cmdline::ScanKind::kRelay);
        int outcome = cmdline::Relay(scan.relayMessage, scan.relayMessageLength);
        cmdline::FreeScan(&scan);
        return outcome;
    }
};

TEST_F(RelayTest, ServerPortValueForms) {
    struct Case {
        platform::DWORD type;
        std::string bytes;
        uint32_t port;
    } cases[] = {
        {platform::REG_DWORD, std::string("\x10\x27\x00\x00", 4), 10000},
        {platform::REG_BINARY, std::string("\x10\x27", 2), 10000},
        {platform::REG_BINARY, std::string("\x10", 1), 0x10},
        {platform::REG_DWORD, std::string("\x10\x27\x01\x00", 4), 0x12710},
        {platform::REG_DWORD, std::string("\x00\x00\x00\x00", 4), 0},
        {platform::REG_BINARY, std::string("\x10\x27\x00\x00\x00", 5), 0},   // does not fit
        {platform::REG_BINARY, std::string(), 0},
        // The type is ignored: a string's bytes are taken as they lie.
        {platform::REG_SZ, std::string("1\0\0\0", 4), 0x31},
        {platform::REG_SZ, std::string("\x10\x27", 2), 10000},
    };
    for (const auto& c : cases) {
        sim::Reset();
        sim::SetRegistryValue(platform::HKEY_LOCAL_MACHINE, kKey, u"ServerPort", c.type, c.bytes);
        EXPECT_EQ(cmdline::ReadServerPort(), c.port) << c.bytes.size() << " bytes of type " << c.type;
        EXPECT_EQ(sim::OpenKeyCount(), 0);
    }
}

TEST_F(RelayTest, ServerPortMissingOrUnreadable) {
    // A missing key is created, and reads as 0.
    EXPECT_FALSE(sim::RegistryKeyExists(platform::HKEY_LOCAL_MACHINE, kKey));
    EXPECT_EQ(cmdline::ReadServerPort(), 0u);
    EXPECT_TRUE(sim::RegistryKeyExists(platform::HKEY_LOCAL_MACHINE, kKey));
    EXPECT_EQ(sim::CallCount("RegCreateKeyExW"), 1);
    EXPECT_EQ(sim::CallCount("RegCloseKey"), 1);

    SetPort(10000);
    sim::Fail("RegCreateKeyExW");
    EXPECT_EQ(cmdline::ReadServerPort(), 0u);
    sim::Fail("RegQueryValueExW");
    EXPECT_EQ(cmdline::ReadServerPort(), 0u);
    EXPECT_EQ(sim::OpenKeyCount(), 0);
    EXPECT_EQ(cmdline::ReadServerPort(), 10000u);
}

TEST_F(RelayTest, MessageBytes) {
    int32_t length = -1;
    char* message = cmdline::RelayMessage(u"go home", &length);
    EXPECT_EQ(std::string(message, static_cast<size_t>(length) + 1), std::string("go home\n\0", 9));
    std::free(message);

    message = cmdline::RelayMessage(u"", &length);
    EXPECT_EQ(std::string(message, static_cast<size_t>(length) + 1), std::string("\n\0", 2));
    std::free(message);

    // Low bytes only: no UTF-8.
    message = cmdline::RelayMessage(u"\x20AC\x00E9", &length);
    EXPECT_EQ(std::string(message, static_cast<size_t>(length) + 1), std::string("\xAC\xE9\n\0", 4));
    std::free(message);
}

TEST_F(RelayTest, SocketLayerStartsOnceAndStopsOnlyWhenStarted) {
    // Never started: nothing to shut down.
    cmdline::StopSocketLayer();
    EXPECT_EQ(sim::CallCount("WSACleanup"), 0);

    EXPECT_TRUE(cmdline::StartSocketLayer());
    EXPECT_EQ(cmdline::g_socketLayerState, cmdline::kSocketLayerStarted);
    EXPECT_TRUE(cmdline::StartSocketLayer());
    EXPECT_EQ(sim::CallLog(), std::vector<std::string>{"WSAStartup(0x2, ptr)"});
    cmdline::StopSocketLayer();
    EXPECT_EQ(sim::SocketLayerCleanups(), 1);

    // A failed start is never tried again, and is not shut down.
    sim::Reset();
    cmdline::g_socketLayerState = cmdline::kSocketLayerNotStarted;
    sim::Fail("WSAStartup");
    EXPECT_FALSE(cmdline::StartSocketLayer());
    EXPECT_EQ(cmdline::g_socketLayerState, cmdline::kSocketLayerFailed);
    EXPECT_FALSE(cmdline::StartSocketLayer());
    EXPECT_EQ(sim::CallCount("WSAStartup"), 1);
    cmdline::StopSocketLayer();
    EXPECT_EQ(sim::CallCount("WSACleanup"), 0);
}

TEST_F(RelayTest, DeliversTheCommandAndOneNewline) {
    platform::WORD port = sim::Listen();
    ASSERT_NE(port, 0);
    SetPort(port);
    EXPECT_EQ(RelayLine(u"-acommand \"go home\""), cmdline::ScanOutcome::kStop);
    EXPECT_EQ(sim::Received(1), std::vector<std::string>{"go home\n"});
    // One TCP connection to the loopback address on the registered port,
    // lingering on close, two plain sends, closed.
    std::vector<std::string> sockets;
    for (const std::string& call : sim::CallLog()) {
        if (call.rfind("Reg", 0) != 0 && call.rfind("WSAStartup", 0) != 0) sockets.push_back(call);
    }
    std::vector<std::string> expected = {"socket(2, 1, 0)", "setsockopt(socket, 0xffff, 0x80, ptr, 4)",
                                         "inet_addr(\"127.0.0.1\")",
                                         "connect(socket, 2, 127.0.0.1:" + std::to_string(port) + ", 16)",
                                         "send(socket, ptr, 7, 0x0)", "send(socket, ptr, 1, 0x0)",
                                         "closesocket(socket)"};
    EXPECT_EQ(sockets, expected);
    ASSERT_EQ(sim::LingerSettings().size(), 1u);
    EXPECT_EQ(sim::LingerSettings()[0].l_onoff, 1);
    EXPECT_EQ(sim::LingerSettings()[0].l_linger, 5);
    // The socket layer stays started for the rest of the process.
    EXPECT_EQ(cmdline::g_socketLayerState, cmdline::kSocketLayerStarted);
    EXPECT_EQ(sim::SocketLayerCleanups(), 0);
}

TEST_F(RelayTest, DeliversOddCommands) {
    platform::WORD port = sim::Listen();
    SetPort(port);
    EXPECT_EQ(RelayLine(u"-acommand \"\""), cmdline::ScanOutcome::kStop);
    std::u16string euro = u"/acommand \x20AC" u"5";
    EXPECT_EQ(RelayLine(euro), cmdline::ScanOutcome::kStop);
    EXPECT_EQ(sim::Received(2), (std::vector<std::string>{"\n", "\xAC" "5\n"}));
    // Started once for both.
    EXPECT_EQ(sim::CallCount("WSAStartup"), 1);
}

TEST_F(RelayTest, OnlyTheLow16BitsAreThePort) {
    platform::WORD port = sim::Listen();
    SetPort(0x50000u | port);
    EXPECT_EQ(RelayLine(u"-acommand x"), cmdline::ScanOutcome::kStop);
    EXPECT_EQ(sim::Received(1), std::vector<std::string>{"x\n"});
}

TEST_F(RelayTest, ShortSendCountsAsSent) {
    SetPort(sim::Listen());
    sim::LimitSend(3);
    EXPECT_EQ(RelayLine(u"-acommand \"go home\""), cmdline::ScanOutcome::kStop);
    EXPECT_EQ(sim::Received(1), std::vector<std::string>{"go \n"});
}

TEST_F(RelayTest, NoArgumentOrNoPortGoesOnWithoutSockets) {
    SetPort(10000);
    EXPECT_EQ(RelayLine(u"-acommand"), cmdline::ScanOutcome::kGoOn);
    // The port was read all the same.
    EXPECT_EQ(sim::CallCount("RegQueryValueExW"), 1);
    EXPECT_EQ(sim::CallCount("WSAStartup"), 0);
    EXPECT_EQ(sim::CallCount("socket"), 0);

    sim::Reset();
    EXPECT_EQ(RelayLine(u"-acommand x"), cmdline::ScanOutcome::kGoOn);
    EXPECT_TRUE(sim::RegistryKeyExists(platform::HKEY_LOCAL_MACHINE, kKey));
    SetPort(0);
    EXPECT_EQ(RelayLine(u"-acommand x"), cmdline::ScanOutcome::kGoOn);
    EXPECT_EQ(sim::CallCount("WSAStartup"), 0);
    EXPECT_EQ(cmdline::g_socketLayerState, cmdline::kSocketLayerNotStarted);
}

TEST_F(RelayTest, StartFailureIsFinal) {
    SetPort(sim::Listen());
    sim::Fail("WSAStartup");
    EXPECT_EQ(RelayLine(u"-acommand x"), cmdline::ScanOutcome::kGoOn);
    EXPECT_EQ(RelayLine(u"-acommand x"), cmdline::ScanOutcome::kGoOn);
    EXPECT_EQ(sim::CallCount("WSAStartup"), 1);
    EXPECT_EQ(sim::CallCount("socket"), 0);
    EXPECT_TRUE(sim::Received(0, 0).empty());
}

TEST_F(RelayTest, SocketFailureNeedsNoClose) {
    SetPort(sim::Listen());
    sim::Fail("socket");
    EXPECT_EQ(RelayLine(u"-acommand x"), cmdline::ScanOutcome::kGoOn);
    EXPECT_EQ(sim::CallCount("connect"), 0);
    EXPECT_EQ(sim::CallCount("closesocket"), 0);
}

TEST_F(RelayTest, RefusedConnectionClosesTheSocket) {
    platform::WORD port = sim::UnusedPort();
    ASSERT_NE(port, 0);
    SetPort(port);
    EXPECT_EQ(RelayLine(u"-acommand x"), cmdline::ScanOutcome::kGoOn);
    EXPECT_EQ(sim::CallCount("connect"), 1);
    EXPECT_EQ(sim::CallCount("send"), 0);
    EXPECT_EQ(sim::CallCount("closesocket"), 1);
}

TEST_F(RelayTest, FailedSendsGoOnAndClose) {
    SetPort(sim::Listen());
    // The first send fails: the newline is not tried.
    sim::Fail("send");
    EXPECT_EQ(RelayLine(u"-acommand abc"), cmdline::ScanOutcome::kGoOn);
    EXPECT_EQ(sim::CallCount("send"), 1);
    EXPECT_EQ(sim::CallCount("closesocket"), 1);
    // The newline's send fails.
    sim::Fail("send", 2);
    EXPECT_EQ(RelayLine(u"-acommand abc"), cmdline::ScanOutcome::kGoOn);
    EXPECT_EQ(sim::CallCount("send"), 3);
    EXPECT_EQ(sim::CallCount("closesocket"), 2);
    // What got through, the engine saw: nothing, then the command without its newline.
    EXPECT_EQ(sim::Received(2), (std::vector<std::string>{"", "abc"}));
}

TEST_F(RelayTest, TheOptionNeedNotBeFirst) {
    SetPort(sim::Listen());
    EXPECT_EQ(testsupport::ScanAndRelayOrActivate(u"-z -h 5 -acommand \"say hi\" rest"), cmdline::ScanOutcome::kStop);
    EXPECT_EQ(sim::Received(1), std::vector<std::string>{"say hi\n"});
    EXPECT_EQ(sim::CallCount("FindWindowW"), 0);
}

}  // namespace
