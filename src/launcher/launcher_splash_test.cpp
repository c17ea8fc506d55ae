// The launch sequence with a splash, on the simulated platform: the splash is
// up before the engine is entered, and the engine is entered only after the
// splash window's first paint.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "sim.h"
#include "bmp_builder.h"

namespace {

// What the engine saw when the launcher called it.
struct EngineView {
    bool called = false;
    std::vector<std::string> log;
    platform::HWND splash = nullptr;
    uint32_t centrePixel = 0;
    bool dismissed = false;
    const char16_t* line = nullptr;   // the engine keeps it for the process, which ends with the test
};
EngineView g_view;

constexpr uint32_t kSplashColour = 0x00C08040;

int32_t Engine(void*, void*, const char16_t* line, int, void*, void*) {
    g_view.called = true;
    g_view.line = line;
    g_view.log = sim::CallLog();
    g_view.centrePixel = sim::ScreenPixel(120, 160);
    // The engine dismisses the splash once it is up, by ending the splash thread's loop.
    g_view.splash = platform::FindWindowW(u"KEL_SPLASH", nullptr);
    if (g_view.splash != nullptr) {
        g_view.dismissed = sim::PostThreadMessage(sim::GetWindowInfo(g_view.splash)->threadId, platform::WM_QUIT);
    }
    return 7;
}

// The first entry that is the given one, or a call of the given operation.
int IndexOf(const std::vector<std::string>& log, const std::string& entry) {
    auto it = std::find_if(log.begin(), log.end(),
                           [&](const std::string& e) { return e == entry || e.rfind(entry + "(", 0) == 0; });
    return it == log.end() ? -1 : static_cast<int>(it - log.begin());
}

class LaunchWithSplash : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        g_view = EngineView{};
        sim::SetScreenSize(240, 320);
        sim::InstallLibrary({u"\\Windows\\Kel.dll", {{"KelMainW", reinterpret_cast<platform::FARPROC>(&Engine)}}});
    }
    void TearDown() override {
        sim::Reset();
        std::free(const_cast<char16_t*>(g_view.line));
    }
};

TEST_F(LaunchWithSplash, EngineIsEnteredAfterTheFirstPaint) {
    testsupport::BmpFile file;
    file.width = 150;
    file.height = 150;
    file.pixel = [](int, int) { return kSplashColour; };
    sim::SetResource(u"SplashScreen", u"Splash.bmp", testsupport::BmpBytes(file));

    EXPECT_EQ(launcher::Launch(sim::LauncherModule(), nullptr, u"\"\\My Documents\\Game.kel\"", 1), 7);
    ASSERT_TRUE(g_view.called);

    // Splash step before the engine library is loaded; the engine after the paint's signal.
    int wait = IndexOf(g_view.log, "WaitForSingleObject(event, 3000)");
    int signal = IndexOf(g_view.log, "EventModify(event, 3)");
    int load = IndexOf(g_view.log, "LoadLibraryW(\"Kel.dll\")");
    ASSERT_GE(wait, 0);
    ASSERT_GE(signal, 0);
    EXPECT_LT(wait, load);
    EXPECT_LT(signal, load);
    // What a person saw when the engine started: the splash, centred.
    EXPECT_EQ(g_view.centrePixel, kSplashColour);
    ASSERT_NE(g_view.splash, nullptr);
    EXPECT_TRUE(g_view.dismissed);
    EXPECT_EQ(sim::WaitForThreadEnd(sim::GetWindowInfo(g_view.splash)->threadId, 20000), platform::DWORD{0});
    EXPECT_FALSE(sim::GetWindowInfo(g_view.splash)->alive);
}

TEST_F(LaunchWithSplash, NoBitmapStillStartsTheEngine) {
    // The default configuration names bitmaps this launcher does not carry.
    EXPECT_EQ(launcher::Launch(sim::LauncherModule(), nullptr, u"Game.kel", 1), 7);
    ASSERT_TRUE(g_view.called);
    EXPECT_EQ(g_view.splash, nullptr);
    EXPECT_EQ(IndexOf(g_view.log, "CreateThread"), -1);
    EXPECT_GE(IndexOf(g_view.log, "FindResourceW(module:launcher, \"Splash.bmp\", \"SplashScreen\")"), 0);
    EXPECT_EQ(g_view.centrePixel, sim::kDesktopColour);
}

}  // namespace
