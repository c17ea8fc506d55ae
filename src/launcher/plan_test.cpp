// The start-up plan: what a start decides from the launcher's CommandLine
// bytes and the user's line before anything leaves the program.
#include "launcher/plan.h"

#include <gtest/gtest.h>

#include <string>

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
