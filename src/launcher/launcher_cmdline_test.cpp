// The launch sequence's command-line steps, end to end on the simulation:
// the merge feeds the engine, a running instance or a relayed command ends
// the start, and the socket layer is shut down only when a relay started it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "cmdline/relay.h"
#include "launcher/engine.h"
#include "launcher/launcher.h"
#include "process_state.h"
#include "sim.h"

namespace {

// What the fake engine saw, and what it answers.
std::u16string g_engineCommandLine;
const char16_t* g_engineLine = nullptr;
int g_engineCalls = 0;
int32_t g_engineResult = 0;

int32_t FakeKelMainW(void*, void*, const char16_t* commandLine, int, void*, void*) {
    ++g_engineCalls;
    g_engineCommandLine = commandLine;
    g_engineLine = commandLine;
    return g_engineResult;
}

class LaunchCommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        cmdline::g_socketLayerState = cmdline::kSocketLayerNotStarted;
        g_engineCommandLine.clear();
        g_engineCalls = 0;
        g_engineResult = 0;
        sim::Library engine;
        engine.path = u"\\Windows\\Kel.dll";
        engine.exports["KelMainW"] = reinterpret_cast<platform::FARPROC>(&FakeKelMainW);
        engine_ = sim::InstallLibrary(engine);
    }
    void TearDown() override { sim::Reset(); }

    // One launch is one process: the merged line the engine was handed
    // lives until the process ends, which is here.
    static int Launch(const char16_t* commandLine) {
        g_engineLine = nullptr;
        int result = launcher::Launch(sim::LauncherModule(), nullptr, commandLine, 1);
        std::free(const_cast<char16_t*>(g_engineLine));
        return result;
    }
    static void Package(const std::string& embedded) { sim::SetResource(u"Text", u"CommandLine", embedded); }
    static void SetPort(uint32_t port) {
        sim::SetRegistryValue(platform::HKEY_LOCAL_MACHINE, u"Software\\Norvane\\KelVM", u"ServerPort",
                              platform::REG_DWORD, std::string(reinterpret_cast<const char*>(&port), 4));
    }
    // Position of the first call-log entry that starts with name, or -1.
    static int Position(const std::string& name) {
        auto log = sim::CallLog();
        for (size_t i = 0; i < log.size(); ++i) {
            if (log[i].rfind(name, 0) == 0) return static_cast<int>(i);
        }
        return -1;
    }

    platform::HMODULE engine_ = nullptr;
};

TEST_F(LaunchCommandLine, EngineReceivesTheMergedCommandLine) {
    Package("app.Main");
    EXPECT_EQ(Launch(u"-+ -h 5 -- doc.kel"), 0);
    EXPECT_EQ(g_engineCalls, 1);
    EXPECT_EQ(g_engineCommandLine, u"-h 5  app.Main doc.kel");
    // The target was derived from the merged line: -h took 5, app.Main is first.
    EXPECT_EQ(sim::CallCount("FindWindowW(\"app_Main\", null)"), 1);
}

TEST_F(LaunchCommandLine, WithoutResourceTheUserLineIsPassedUnchanged) {
    EXPECT_EQ(Launch(u"  \"\\My Documents\\Game.kel\"  "), 0);
    EXPECT_EQ(g_engineCommandLine, u"  \"\\My Documents\\Game.kel\"  ");
    EXPECT_EQ(sim::CallCount("FindWindowW(\"Game_run\", null)"), 1);
}

TEST_F(LaunchCommandLine, TheResourceIsFoundWhateverItsCaseAndUnloadableCountsAsNone) {
    sim::SetResource(u"TEXT", u"commandline", "app.Main");
    EXPECT_EQ(Launch(u"x"), 0);
    EXPECT_EQ(g_engineCommandLine, u" app.Main x");
    sim::Fail("LoadResource");
    EXPECT_EQ(Launch(u"x"), 0);
    EXPECT_EQ(g_engineCommandLine, u"x");
}

TEST_F(LaunchCommandLine, RunningInstanceEndsTheStart) {
    Package("app.Main");
    platform::HWND running = sim::AddForeignWindow(u"app_Main");
    EXPECT_EQ(Launch(u"doc.kel"), 0);
    EXPECT_EQ(sim::ForegroundWindow(), running);
    auto posted = sim::PostedMessages(running);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, 1038u);
    // Nothing follows the handoff: no splash, no engine.
    auto log = sim::CallLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "PostMessageW(foreign:app_Main, 1038, 0, 0)");
    EXPECT_EQ(g_engineCalls, 0);
    EXPECT_EQ(sim::CallCount("LoadLibraryW"), 0);
    EXPECT_EQ(sim::LoadCount(engine_), 0);
}

TEST_F(LaunchCommandLine, DeliveredCommandEndsTheStart) {
    Package("app.Main");
    SetPort(sim::Listen());
    // In a packaged launcher the option must stand in the prefix section.
    EXPECT_EQ(Launch(u"-+ -acommand \"go home\" --"), 0);
    EXPECT_EQ(sim::Received(1), std::vector<std::string>{"go home\n"});
    EXPECT_EQ(g_engineCalls, 0);
    EXPECT_EQ(sim::CallCount("LoadLibraryW"), 0);
    EXPECT_EQ(sim::CallCount("FindWindowW"), 0);
    // The process ends right away; the socket layer is left to it.
    EXPECT_EQ(sim::CallCount("WSACleanup"), 0);
}

TEST_F(LaunchCommandLine, UndeliveredCommandStartsTheEngineAndCleansUpAfterIt) {
    SetPort(sim::UnusedPort());
    g_engineResult = 7;
    EXPECT_EQ(Launch(u" -acommand \"go home\" "), 7);
    EXPECT_EQ(g_engineCommandLine, u" -acommand \"go home\" ");
    EXPECT_EQ(sim::SocketLayerStarts(), 1);
    EXPECT_EQ(sim::SocketLayerCleanups(), 1);
    // The shut-down comes after the engine ran and before it is unloaded.
    int cleanup = Position("WSACleanup");
    EXPECT_GT(cleanup, Position("GetProcAddressW(module:\\Windows\\Kel.dll, \"KelMainW\")"));
    EXPECT_LT(cleanup, Position("FreeLibrary"));
}

TEST_F(LaunchCommandLine, NoCleanupWithoutAStartedSocketLayer) {
    // No relay at all.
    EXPECT_EQ(Launch(u"app.Main"), 0);
    EXPECT_EQ(g_engineCalls, 1);
    EXPECT_EQ(sim::CallCount("WSACleanup"), 0);

    // A relay that stopped before the socket layer: no port registered.
    SetUp();
    EXPECT_EQ(Launch(u"-acommand x"), 0);
    EXPECT_EQ(g_engineCommandLine, u"-acommand x");
    EXPECT_EQ(sim::CallCount("WSAStartup"), 0);
    EXPECT_EQ(sim::CallCount("WSACleanup"), 0);

    // A socket layer whose start failed.
    SetUp();
    SetPort(sim::Listen());
    sim::Fail("WSAStartup");
    EXPECT_EQ(Launch(u"-acommand x"), 0);
    EXPECT_EQ(g_engineCalls, 1);
    EXPECT_EQ(sim::CallCount("WSACleanup"), 0);
}

TEST_F(LaunchCommandLine, RegistrationTriggerSeesTheMergedLine) {
    // "+" in a packaged launcher is carried behind E and registers nothing.
    Package("app.Main");
    EXPECT_EQ(Launch(u"+"), 0);
    EXPECT_EQ(g_engineCommandLine, u" app.Main +");
    EXPECT_EQ(sim::CallCount("RegSetValueExW"), 0);
}

}  // namespace
