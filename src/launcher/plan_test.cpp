// The start-up plan: what a start decides from the launcher's CommandLine
// bytes and the user's line before anything leaves the program.
#include "launcher/plan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmdline/relay_message.h"

namespace {

TEST(StartPlan, MergesThenDecidesRegistrationAndScan) {
    using filetype::Registration;
    struct Case {
        const char* resource;   // null: no CommandLine resource
        std::u16string user;
        std::u16string merged;
        Registration registration;
        std::u16string target;  // "" when the start only registers; "relay" for the relay option
    } cases[] = {
        {nullptr, u"", u"", Registration::kRegisterAndGoOn, u"StartKel"},
        {nullptr, u"+  ", u"+  ", Registration::kRegisterOnly, u""},
        {nullptr, u"\"\\My Documents\\Game.kel\"", u"\"\\My Documents\\Game.kel\"", Registration::kNone, u"Game_run"},
        {"app.Main", u"", u"app.Main", Registration::kNone, u"app_Main"},
        {"app.Main", u"+", u" app.Main +", Registration::kNone, u"app_Main"},
        {"app.Main", u"-+ -acommand go --", u"-acommand go  app.Main", Registration::kNone, u"relay"},
        {"\r", u"x", u"  x", Registration::kNone, u"x"},
    };
    for (const Case& c : cases) {
        std::string resource = c.resource != nullptr ? c.resource : "";
        launcher::StartPlan plan = launcher::PlanStart(c.resource != nullptr ? resource.data() : nullptr,
                                                       static_cast<uint32_t>(resource.size()), c.user.c_str());
        SCOPED_TRACE(testing::PrintToString(c.user));
        EXPECT_EQ(std::u16string(plan.commandLine), c.merged);
        EXPECT_EQ(plan.registration, c.registration);
        EXPECT_EQ(plan.scanned, !c.target.empty());
        if (plan.scanned) {
            bool relay = plan.scan.kind == cmdline::ScanKind::kRelay;
            EXPECT_EQ(relay ? u"relay" : std::u16string(plan.scan.target), c.target);
        }
        launcher::FreeStartPlan(&plan);
    }
}

}  // namespace

namespace {

TEST(StartPlan, RelayMessageAndPortRules) {
    // The relay's bytes are the plan's: the command after the option and one newline.
    launcher::StartPlan plan = launcher::PlanStart("app.Main", 8, u"-+ -acommand \"go home\" --");
    ASSERT_EQ(plan.scan.kind, cmdline::ScanKind::kRelay);
    EXPECT_EQ(std::string(plan.scan.relayMessage, static_cast<size_t>(plan.scan.relayMessageLength)), "go home\n");
    launcher::FreeStartPlan(&plan);

    // A ServerPort value fills the number from its low end, whatever its
    // type; a value longer than four bytes is no port.
    struct Case {
        std::string bytes;
        uint32_t port;
    } cases[] = {
        {std::string("\x10\x27\x00\x00", 4), 10000},
        {std::string("\x10\x27", 2), 10000},
        {std::string("\x10", 1), 0x10},
        {std::string("\x10\x27\x01\x80", 4), 0x80012710u},
        {std::string(), 0},
        {std::string("\x10\x27\x00\x00\x00", 5), 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cmdline::ServerPortFromValue(reinterpret_cast<const uint8_t*>(c.bytes.data()),
                                               static_cast<uint32_t>(c.bytes.size())),
                  c.port)
            << c.bytes.size() << " bytes";
    }
}

TEST(StartPlan, EnginePathFromTheRegisteredValue) {
    struct Case {
        std::string bytes;   // the value as stored
        std::u16string path;
    } cases[] = {
        {std::string("\\\0E\0.\0D\0L\0L\0\0\0", 14), u"\\E.DLL"},
        {std::string("\"\0\\\0E\0\"\0\0\0", 10), u"\\E"},       // quoted: both quotes go
        {std::string("\"\0\\\0E\0x\0", 8), u"\\E"},             // the last character goes, whatever it is
        {std::string("\"\0", 2), u""},                           // a lone quote
        {std::string("A\0B\0C", 5), u"AB"},                      // an odd last byte is no character
        {std::string("A\0B\0", 4), u"AB"},                       // no terminator stored
        {std::string("A\0\0\0B\0", 6), u"A"},                    // the first NUL ends it
        {std::string(), u""},
    };
    for (const Case& c : cases) {
        uint32_t size = static_cast<uint32_t>(c.bytes.size());
        uint32_t bytes = launcher::EnginePathBufferBytes(size);
        ASSERT_GT(bytes, size);
        // What the registry fills the buffer with; the rest is left as it was.
        std::vector<char16_t> buffer(bytes / sizeof(char16_t), u'#');
        std::memcpy(buffer.data(), c.bytes.data(), c.bytes.size());
        EXPECT_EQ(std::u16string(launcher::EnginePathInValue(buffer.data(), size)), c.path) << size << " bytes";
    }
    // The longest path with its terminator and quotes is taken; one character more is not.
    EXPECT_EQ(launcher::EnginePathBufferBytes(launcher::kMaxEnginePathBytes), launcher::kMaxEnginePathBytes + 2);
    EXPECT_EQ(launcher::EnginePathBufferBytes(launcher::kMaxEnginePathBytes + 1), 0u);
    EXPECT_EQ(launcher::EnginePathBufferBytes(0xFFFFFFFFu), 0u);
}

}  // namespace
