// The scan's outcome carried out against the simulation: a running
// instance brought forward and told, or the relay taking over.
#include "cmdline/handoff.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmdline/relay.h"
#include "process_state.h"
#include "relay_or_activate.h"
#include "sim.h"

namespace {

class HandoffTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        cmdline::g_socketLayerState = cmdline::kSocketLayerNotStarted;
    }
};

TEST_F(HandoffTest, RunningInstanceIsBroughtForwardAndToldOnce) {
    platform::HWND other = sim::AddForeignWindow(u"Other");
    platform::HWND app = sim::AddForeignWindow(u"app_Main");
    EXPECT_TRUE(cmdline::ActivateRunningInstance(u"app_Main"));
    EXPECT_EQ(sim::ForegroundWindow(), app);
    auto posted = sim::PostedMessages(app);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, 1038u);
    EXPECT_EQ(posted[0].wParam, 0u);
    EXPECT_EQ(posted[0].lParam, 0);
    EXPECT_TRUE(sim::PostedMessages(other).empty());
}

TEST_F(HandoffTest, NoInstanceMeansNoOtherCall) {
    sim::AddForeignWindow(u"Other");
    EXPECT_FALSE(cmdline::ActivateRunningInstance(u"app_Main"));
    EXPECT_EQ(sim::CallLog(), std::vector<std::string>{"FindWindowW(\"app_Main\", null)"});
}

TEST_F(HandoffTest, FailuresAfterTheWindowWasFoundAreIgnored) {
    sim::AddForeignWindow(u"app_Main");
    sim::Fail("SetForegroundWindow");
    sim::Fail("PostMessageW");
    EXPECT_TRUE(cmdline::ActivateRunningInstance(u"app_Main"));
    EXPECT_EQ(sim::CallCount("PostMessageW"), 1);
}

TEST_F(HandoffTest, ArgumentScanStopsOnlyWhenAnInstanceRuns) {
    EXPECT_EQ(testsupport::ScanAndRelayOrActivate(u" app.Main doc.kel"), cmdline::ScanOutcome::kGoOn);
    EXPECT_EQ(sim::CallLog(), std::vector<std::string>{"FindWindowW(\"app_Main\", null)"});

    sim::Reset();
    platform::HWND game = sim::AddForeignWindow(u"Game_run");
    EXPECT_EQ(testsupport::ScanAndRelayOrActivate(u"\"\\My Documents\\Game.kel\""), cmdline::ScanOutcome::kStop);
    EXPECT_EQ(sim::PostedMessages(game).size(), 1u);

    // The class name is asked for as derived, backslash and all.
    sim::Reset();
    EXPECT_EQ(testsupport::ScanAndRelayOrActivate(u"a\\b x"), cmdline::ScanOutcome::kGoOn);
    EXPECT_EQ(sim::CallLog(), std::vector<std::string>{"FindWindowW(\"a\\b\", null)"});

    sim::Reset();
    sim::AddForeignWindow(u"StartKel");
    EXPECT_EQ(testsupport::ScanAndRelayOrActivate(u""), cmdline::ScanOutcome::kStop);
}

TEST_F(HandoffTest, RelayOptionSkipsTheHandoff) {
    // Even with an instance of the default name running, the relay answers.
    platform::HWND start = sim::AddForeignWindow(u"StartKel");
    EXPECT_EQ(testsupport::ScanAndRelayOrActivate(u"-acommand"), cmdline::ScanOutcome::kGoOn);
    EXPECT_EQ(sim::CallCount("FindWindowW"), 0);
    EXPECT_TRUE(sim::PostedMessages(start).empty());
    // The relay read the port: the key exists now.
    EXPECT_TRUE(sim::RegistryKeyExists(platform::HKEY_LOCAL_MACHINE, u"Software\\Norvane\\KelVM"));
}

}  // namespace
