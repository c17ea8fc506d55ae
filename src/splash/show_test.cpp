#include "splash/show.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bmp_builder.h"
#include "platform/resources.h"
#include "process_state.h"
#include "sim.h"

namespace {

// Generous: the wait only bounds a test that has already gone wrong.
constexpr int kPatienceMs = 20000;

platform::HINSTANCE const kInstance = reinterpret_cast<platform::HINSTANCE>(static_cast<uintptr_t>(0x10000));

// Waits for a condition that another thread brings about; false when it never comes.
bool Eventually(const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatienceMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A 24-bit bitmap whose every pixel has its own colour.
testsupport::BmpFile Picture(int32_t w, int32_t h) {
    testsupport::BmpFile file;
    file.width = w;
    file.height = h;
    file.bitCount = 24;
    file.pixel = [](int x, int y) { return static_cast<uint32_t>(((x * 7) & 0xFF) << 16 | ((y * 5) & 0xFF) << 8 | 0x42); };
    return file;
}

int IndexOf(const std::vector<std::string>& log, const std::string& entry, int from = 0) {
    auto it = std::find(log.begin() + from, log.end(), entry);
    return it == log.end() ? -1 : static_cast<int>(it - log.begin());
}

class SplashWindow : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        sim::SetScreenSize(240, 320);
    }
    void TearDown() override { NewProcess(); }

    // What the end of a process does for a splash: its thread ends, and the
    // title the splash record kept for it is given back.
    static void NewProcess() {
        sim::Reset();
        std::free(const_cast<char16_t*>(splash::theSplash.title));
        splash::theSplash = splash::SplashState{};
    }

    // Puts a configuration and one bitmap resource in place.
    void Package(const std::string& config, const std::u16string& name, const testsupport::BmpFile& file) {
        sim::SetResource(u"Text", u"CONFIG", config);
        sim::SetResource(u"SplashScreen", name, testsupport::BmpBytes(file));
    }

    platform::HWND OnlyWindow() {
        auto windows = sim::CreatedWindows();
        return windows.size() == 1 ? windows[0] : nullptr;
    }

    // Ends the splash thread as the engine does, and waits for it.
    std::optional<platform::DWORD> Dismiss(platform::HWND window) {
        platform::DWORD thread = sim::GetWindowInfo(window)->threadId;
        EXPECT_TRUE(sim::PostThreadMessage(thread, platform::WM_QUIT));
        return sim::WaitForThreadEnd(thread, kPatienceMs);
    }

    // Checks that the screen shows the file's pixels with the file's top left at (x0, y0), clipped.
    void ExpectShown(const testsupport::BmpFile& file, int x0, int y0) {
        for (int y = 0; y < file.height; ++y) {
            for (int x = 0; x < file.width; ++x) {
                if (x0 + x < 0 || y0 + y < 0 || x0 + x >= 240 || y0 + y >= 320) continue;
                ASSERT_EQ(sim::ScreenPixel(x0 + x, y0 + y), file.pixel(x, y)) << x << "," << y;
            }
        }
    }
};

TEST_F(SplashWindow, FirstPaintReleasesTheMainThread) {
    testsupport::BmpFile file = Picture(150, 150);
    Package("SplashScreen=150x150;Splash.bmp|SplashScreenTitle=Shop", u"Splash.bmp", file);
    EXPECT_EQ(splash::ShowSplash(sim::LauncherModule(), kInstance), platform::WAIT_OBJECT_0);

    platform::HWND window = OnlyWindow();
    ASSERT_NE(window, nullptr);
    // By the time the wait ends the bitmap is on the screen, centred.
    ExpectShown(file, 45, 85);
    EXPECT_EQ(sim::ScreenPixel(44, 85), sim::kDesktopColour);
    EXPECT_EQ(sim::ScreenPixel(195, 234), sim::kDesktopColour);

    auto log = sim::CallLog();
    // An auto-reset event that starts clear, a thread that starts at once,
    // a plain copy of the whole bitmap, the event set.
    int wait = IndexOf(log, "WaitForSingleObject(event, 3000)");
    int paint = IndexOf(log, "BeginPaint(window:KEL_SPLASH, ptr)");
    int signal = IndexOf(log, "EventModify(event, 3)");
    int create = IndexOf(log, "CreateThread(null, 0, ptr, null, 0x0, ptr)");
    ASSERT_GE(wait, 0);
    ASSERT_GT(paint, 0);
    ASSERT_GT(signal, paint);
    ASSERT_GE(create, 0);
    EXPECT_LT(IndexOf(log, "CreateEventW(null, 0, 0, null)"), create);
    EXPECT_LT(create, wait);
    int copy = IndexOf(log, "BitBlt(dc:paint, 0, 0, 150, 150, dc:memory, 0, 0, 0xcc0020)");
    ASSERT_GE(copy, 0);
    EXPECT_LT(copy, signal);
    EXPECT_EQ(sim::CallCount("CreateEventW"), 1);
    EXPECT_EQ(sim::CallCount("CreateThread"), 1);
    EXPECT_EQ(splash::theSplash.window, window);
    EXPECT_EQ(splash::theSplash.width, 150);
    EXPECT_EQ(Dismiss(window), platform::DWORD{0});
}

TEST_F(SplashWindow, ClassStyleTitleAndPlace) {
    Package("SplashScreen=150x150;S|SplashScreenTitle=Shop", u"S", Picture(150, 150));
    ASSERT_EQ(splash::ShowSplash(sim::LauncherModule(), kInstance), platform::WAIT_OBJECT_0);

    auto info = sim::GetWindowInfo(OnlyWindow());
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->className, u"KEL_SPLASH");
    EXPECT_EQ(info->title, u"Shop");
    EXPECT_EQ(info->style, 0x90000000u);
    EXPECT_EQ(info->exStyle, 0u);
    EXPECT_EQ(info->x, 45);
    EXPECT_EQ(info->y, 85);
    EXPECT_EQ(info->width, 150);
    EXPECT_EQ(info->height, 150);
    EXPECT_EQ(info->parent, nullptr);
    EXPECT_EQ(info->menu, nullptr);
    EXPECT_EQ(info->instance, kInstance);
    EXPECT_EQ(sim::ForegroundWindow(), OnlyWindow());
    // The window belongs to the splash thread, not to the caller.
    EXPECT_EQ(sim::StartedThreads(), std::vector<platform::DWORD>{info->threadId});

    auto windowClass = sim::GetClassInfo(u"KEL_SPLASH");
    ASSERT_TRUE(windowClass.has_value());
    EXPECT_EQ(windowClass->style, 0u);
    EXPECT_EQ(windowClass->procedure, &splash::SplashWindowProc);
    EXPECT_EQ(windowClass->classExtra, 0);
    EXPECT_EQ(windowClass->windowExtra, 0);
    EXPECT_EQ(windowClass->instance, kInstance);
    EXPECT_EQ(windowClass->icon, nullptr);
    EXPECT_EQ(windowClass->cursor, nullptr);
    EXPECT_EQ(windowClass->background, platform::GetStockObject(platform::WHITE_BRUSH));
    EXPECT_FALSE(windowClass->hasMenuName);

    // Another party finds it by class name, as an engine that dismisses it does.
    EXPECT_EQ(platform::FindWindowW(u"KEL_SPLASH", u"Shop"), OnlyWindow());
}

TEST_F(SplashWindow, TitleWithoutConfigOrWithoutTitleEntry) {
    sim::SetResource(u"SplashScreen", u"Splash.bmp", testsupport::BmpBytes(Picture(150, 150)));
    ASSERT_EQ(splash::ShowSplash(sim::LauncherModule(), kInstance), platform::WAIT_OBJECT_0);
    EXPECT_EQ(sim::GetWindowInfo(OnlyWindow())->title, u"The Big Splash Screen");

    NewProcess();
    Package("SplashScreen=150x150;Splash.bmp", u"Splash.bmp", Picture(150, 150));
    ASSERT_EQ(splash::ShowSplash(sim::LauncherModule(), kInstance), platform::WAIT_OBJECT_0);
    EXPECT_EQ(sim::GetWindowInfo(OnlyWindow())->title, u"My Splash Screen");

    // Title bytes above 0x7F widen by sign extension, as all resource text does.
    NewProcess();
    Package("SplashScreen=1x1;A|SplashScreenTitle=Caf\xE9", u"A", Picture(1, 1));
    ASSERT_EQ(splash::ShowSplash(sim::LauncherModule(), kInstance), platform::WAIT_OBJECT_0);
    EXPECT_EQ(sim::GetWindowInfo(OnlyWindow())->title, u"Caf\xFFE9");
}

TEST_F(SplashWindow, LargerThanTheScreenOverhangsWithTruncatedCentring) {
    testsupport::BmpFile file = Picture(300, 300);
    Package("SplashScreen=300x300;Big", u"Big", file);
    ASSERT_EQ(splash::ShowSplash(sim::LauncherModule(), kInstance), platform::WAIT_OBJECT_0);
    auto info = sim::GetWindowInfo(OnlyWindow());
    EXPECT_EQ(info->x, -30);
    EXPECT_EQ(info->y, 10);
    // The screen shows the middle of the bitmap, clipped at both edges.
    ExpectShown(file, -30, 10);
    EXPECT_EQ(sim::ScreenPixel(0, 9), sim::kDesktopColour);

    NewProcess();
    sim::SetScreenSize(240, 320);
    file = Picture(301, 301);
    Package("SplashScreen=1x1;Big", u"Big", file);
    ASSERT_EQ(splash::ShowSplash(sim::LauncherModule(), kInstance), platform::WAIT_OBJECT_0);
    info = sim::GetWindowInfo(OnlyWindow());
    // (240 - 301) / 2 = -61 / 2 truncates to -30, not -31; (320 - 301) / 2 = 9.
    EXPECT_EQ(info->x, -30);
    EXPECT_EQ(info->y, 9);
    // The window takes the bitmap's own size, not the configuration's.
    EXPECT_EQ(info->width, 301);
    EXPECT_EQ(info->height, 301);
    ExpectShown(file, -30, 9);
}

TEST_F(SplashWindow, ChoosesForTheScreen) {
    sim::SetScreenSize(480, 640);
    testsupport::BmpFile small = Picture(150, 150);
    testsupport::BmpFile large = Picture(300, 300);
    large.pixel = [](int x, int y) { return static_cast<uint32_t>(0x800000 | (x & 0xFF) << 8 | (y & 0xFF)); };
    sim::SetResource(u"SplashScreen", u"Splash.bmp", testsupport::BmpBytes(small));
    sim::SetResource(u"SplashScreen", u"Splash300.bmp", testsupport::BmpBytes(large));
    ASSERT_EQ(splash::ShowSplash(sim::LauncherModule(), kInstance), platform::WAIT_OBJECT_0);
    auto info = sim::GetWindowInfo(OnlyWindow());
    EXPECT_EQ(info->x, 90);
    EXPECT_EQ(info->y, 170);
    for (int y = 0; y < 300; y += 37) {
        for (int x = 0; x < 300; x += 41) ASSERT_EQ(sim::ScreenPixel(90 + x, 170 + y), large.pixel(x, y));
    }
}

TEST_F(SplashWindow, PaletteBitmapShownThroughItsPalette) {
    testsupport::BmpFile file;
    file.width = 37;
    file.height = 21;
    file.bitCount = 8;
    file.palette = testsupport::RampPalette(256);
    file.pixel = [](int x, int y) { return static_cast<uint32_t>((x * 3 + y * 11) % 256); };
    Package("SplashScreen=37x21;P", u"P", file);
    ASSERT_EQ(splash::ShowSplash(sim::LauncherModule(), kInstance), platform::WAIT_OBJECT_0);
    // (240 - 37) / 2 = 101, (320 - 21) / 2 = 149.
    for (int y = 0; y < file.height; ++y) {
        for (int x = 0; x < file.width; ++x) {
            ASSERT_EQ(sim::ScreenPixel(101 + x, 149 + y), testsupport::Colour(file.palette[file.pixel(x, y)])) << x << "," << y;
        }
    }
}

TEST_F(SplashWindow, SecondPaintDrawsAgainAndSignalsAgain) {
    testsupport::BmpFile file = Picture(150, 150);
    Package("SplashScreen=150x150;S", u"S", file);
    ASSERT_EQ(splash::ShowSplash(sim::LauncherModule(), kInstance), platform::WAIT_OBJECT_0);
    platform::HWND window = OnlyWindow();

    // The first paint's signal was used up by the start-up's wait.
    EXPECT_EQ(platform::WaitForSingleObject(splash::theSplash.event, 0), platform::WAIT_TIMEOUT);
    // The wait ends at the signal, inside the first paint; the default handling
    // that follows validates the window, so uncover it only once the thread
    // is back in its loop.
    ASSERT_TRUE(Eventually([] { return sim::CallCount("GetMessageW") == 2; }));
    // Something covered the screen; uncovering the window paints the bitmap again.
    sim::SetScreenSize(240, 320);
    EXPECT_EQ(sim::ScreenPixel(45, 85), sim::kDesktopColour);
    ASSERT_TRUE(sim::InvalidateWindow(window));
    EXPECT_EQ(platform::WaitForSingleObject(splash::theSplash.event, kPatienceMs), platform::WAIT_OBJECT_0);
    ExpectShown(file, 45, 85);
    EXPECT_EQ(sim::GetWindowInfo(window)->paints, 2);
    EXPECT_EQ(sim::CallCount("BitBlt"), 2);
    EXPECT_EQ(sim::CallCount("EventModify"), 2);
    // Each paint gives its memory context and its paint context back.
    EXPECT_EQ(sim::OpenDCCount(), 0);
}

TEST_F(SplashWindow, QuitEndsTheThreadAndTakesTheWindowDown) {
    Package("SplashScreen=150x150;S", u"S", Picture(150, 150));
    ASSERT_EQ(splash::ShowSplash(sim::LauncherModule(), kInstance), platform::WAIT_OBJECT_0);
    platform::HWND window = OnlyWindow();
    EXPECT_EQ(Dismiss(window), platform::DWORD{0});
    EXPECT_FALSE(sim::GetWindowInfo(window)->alive);
    EXPECT_EQ(sim::CallCount("DestroyWindow"), 1);
    EXPECT_EQ(platform::FindWindowW(u"KEL_SPLASH", nullptr), nullptr);
    EXPECT_EQ(sim::ScreenPixel(100, 100), sim::kDesktopColour);
}

TEST_F(SplashWindow, CloseRemovesTheWindowButNotTheThread) {
    Package("SplashScreen=150x150;S", u"S", Picture(150, 150));
    ASSERT_EQ(splash::ShowSplash(sim::LauncherModule(), kInstance), platform::WAIT_OBJECT_0);
    platform::HWND window = OnlyWindow();
    platform::DWORD thread = sim::GetWindowInfo(window)->threadId;
    ASSERT_TRUE(platform::PostMessageW(window, platform::WM_CLOSE, 0, 0));
    ASSERT_TRUE(Eventually([&] { return !sim::GetWindowInfo(window)->alive; }));
    // The loop goes on without a window until WM_QUIT.
    EXPECT_TRUE(sim::PostThreadMessage(thread, platform::WM_QUIT));
    EXPECT_EQ(sim::WaitForThreadEnd(thread, kPatienceMs), platform::DWORD{0});
    EXPECT_EQ(sim::CallCount("DefWindowProcW(window:KEL_SPLASH, 16, 0, 0)"), 1);
}

TEST_F(SplashWindow, WindowCreationFailingRunsTheWaitOut) {
    Package("SplashScreen=150x150;S", u"S", Picture(150, 150));
    sim::Fail("CreateWindowExW");
    // The wait is the full 3000 ms of the start-up, run out at a hundredth of real time.
    sim::SetWaitSpeedup(100);
    EXPECT_EQ(splash::ShowSplash(sim::LauncherModule(), kInstance), platform::WAIT_TIMEOUT);
    EXPECT_EQ(sim::CallCount("WaitForSingleObject(event, 3000)"), 1);
    ASSERT_EQ(sim::StartedThreads().size(), 1u);
    EXPECT_EQ(sim::WaitForThreadEnd(sim::StartedThreads()[0], kPatienceMs), platform::DWORD{0});
    EXPECT_EQ(sim::CallCount("GetMessageW"), 0);
    EXPECT_EQ(sim::CallCount("BeginPaint"), 0);
}

TEST_F(SplashWindow, ThreadOrEventFailingDoesNotHoldTheStartUp) {
    Package("SplashScreen=150x150;S", u"S", Picture(150, 150));
    sim::Fail("CreateThread");
    sim::SetWaitSpeedup(100);
    EXPECT_EQ(splash::ShowSplash(sim::LauncherModule(), kInstance), platform::WAIT_TIMEOUT);
    EXPECT_TRUE(sim::CreatedWindows().empty());

    // Without an event the wait fails at once; the window still shows, and its signal fails quietly.
    NewProcess();
    testsupport::BmpFile file = Picture(150, 150);
    Package("SplashScreen=150x150;S", u"S", file);
    sim::Fail("CreateEventW");
    EXPECT_EQ(splash::ShowSplash(sim::LauncherModule(), kInstance), platform::WAIT_FAILED);
    ASSERT_TRUE(Eventually([] { return sim::CallCount("EventModify(null, 3)") == 1; }));
    ExpectShown(file, 45, 85);
}

TEST_F(SplashWindow, MessageErrorEndsTheLoopInsteadOfSpinning) {
    Package("SplashScreen=150x150;S", u"S", Picture(150, 150));
    sim::Fail("GetMessageW");
    sim::SetWaitSpeedup(100);
    EXPECT_EQ(splash::ShowSplash(sim::LauncherModule(), kInstance), platform::WAIT_TIMEOUT);
    ASSERT_EQ(sim::WaitForThreadEnd(sim::StartedThreads()[0], kPatienceMs), platform::DWORD{0});
    EXPECT_EQ(sim::CallCount("GetMessageW"), 1);
    EXPECT_FALSE(sim::GetWindowInfo(OnlyWindow())->alive);
}

TEST_F(SplashWindow, ScreenIsAskedOnlyWhenAnOfferedBitmapExists) {
    // The built-in text offers two bitmaps; a launcher without them never asks the screen size.
    EXPECT_EQ(splash::ShowSplash(sim::LauncherModule(), kInstance), 0u);
    EXPECT_EQ(sim::CallCount("GetSystemMetrics"), 0);

    // One of them present: the choice asks the screen as before.
    NewProcess();
    sim::SetResource(u"SplashScreen", u"SPLASH.bmp", testsupport::BmpBytes(Picture(4, 4)));
    EXPECT_EQ(splash::ShowSplash(sim::LauncherModule(), kInstance), platform::WAIT_OBJECT_0);
    EXPECT_EQ(sim::CallCount("CreateWindowExW"), 1);
    EXPECT_GE(sim::CallCount("GetSystemMetrics"), 2);
}

TEST_F(SplashWindow, NoSplashMakesNoEventThreadOrWindow) {
    auto expectNothing = [](const char* what) {
        EXPECT_EQ(splash::ShowSplash(sim::LauncherModule(), kInstance), 0u) << what;
        EXPECT_EQ(sim::CallCount("CreateEventW"), 0) << what;
        EXPECT_EQ(sim::CallCount("CreateThread"), 0) << what;
        EXPECT_EQ(sim::CallCount("CreateWindowExW"), 0) << what;
        EXPECT_EQ(sim::CallCount("WaitForSingleObject"), 0) << what;
    };
    sim::SetResource(u"Text", u"CONFIG", "SplashScreenTitle=No bitmap");
    expectNothing("no entry");

    NewProcess();
    sim::SetResource(u"Text", u"CONFIG", "SplashScreen=150x150;Missing.bmp");
    expectNothing("no resource");

    NewProcess();
    std::string topDown = testsupport::BmpBytes(Picture(5, 5));
    testsupport::PutU32(topDown, 22, static_cast<uint32_t>(-5));
    sim::SetResource(u"Text", u"CONFIG", "SplashScreen=5x5;Bad|SplashScreen=4x4;Good");
    sim::SetResource(u"SplashScreen", u"Bad", topDown);
    sim::SetResource(u"SplashScreen", u"Good", testsupport::BmpBytes(Picture(4, 4)));
    // The chosen bitmap does not decode; no other entry is tried.
    expectNothing("undecodable");
    EXPECT_EQ(sim::CallCount("FindResourceW(module:launcher, \"Good\", \"SplashScreen\")"), 0);
}

TEST_F(SplashWindow, ProcedureReturnsWhatTheDefaultReturns) {
    sim::SetDefWindowProcResult(0x1234);
    splash::theSplash = splash::SplashState{};
    EXPECT_EQ(splash::SplashWindowProc(nullptr, platform::WM_USER + 5, 7, 9), 0x1234);
    EXPECT_EQ(sim::CallCount("EventModify"), 0);
    EXPECT_EQ(splash::SplashWindowProc(nullptr, platform::WM_PAINT, 0, 0), 0x1234);
    EXPECT_EQ(sim::CallCount("EventModify"), 1);
    // Both messages, the painted one too, reached the default procedure.
    EXPECT_EQ(sim::CallCount("DefWindowProcW(null, 1029, 7, 9)"), 1);
    EXPECT_EQ(sim::CallCount("DefWindowProcW(null, 15, 0, 0)"), 1);
}

// ---------------------------------------------------------------- the splash's resources and screen

// Configurations and choices own memory; these give it back when a test is done with it.
struct ConfigDeleter {
    void operator()(splash::SplashConfig* config) const { splash::FreeSplashConfig(config); }
};
struct ChoiceDeleter {
    void operator()(splash::SplashChoice* choice) const { std::free(choice); }
};
using Config = std::unique_ptr<splash::SplashConfig, ConfigDeleter>;
using Choice = std::unique_ptr<splash::SplashChoice, ChoiceDeleter>;

Config LoadConfig() { return Config(splash::LoadSplashConfig(sim::LauncherModule())); }

class SplashResources : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override { sim::Reset(); }
};

TEST_F(SplashResources, LoadsResourceBytesInPlace) {
    sim::SetResource(u"TEXT", u"CONFIG", "A=1");
    uint32_t length = 0xdeadbeef;
    const void* bytes = platform::LoadResourceBytes(sim::LauncherModule(), u"config", u"Text", &length);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(std::string(static_cast<const char*>(bytes), length), "A=1");

    length = 0xdeadbeef;
    EXPECT_EQ(platform::LoadResourceBytes(sim::LauncherModule(), u"Other", u"Text", &length), nullptr);
    EXPECT_EQ(length, 0u);

    // A resource that is found but cannot be mapped reports no length either.
    sim::Fail("LoadResource");
    length = 0xdeadbeef;
    EXPECT_EQ(platform::LoadResourceBytes(sim::LauncherModule(), u"CONFIG", u"Text", &length), nullptr);
    EXPECT_EQ(length, 0u);
}

TEST_F(SplashResources, TextFallsBackToTheDefaultItself) {
    uint32_t length = 0xdeadbeef;
    EXPECT_EQ(splash::LoadTextResource(u"CONFIG", sim::LauncherModule(), &length, splash::kDefaultSplashConfig),
              splash::kDefaultSplashConfig);
    EXPECT_EQ(length, 106u);
    length = 0xdeadbeef;
    EXPECT_EQ(splash::LoadTextResource(u"CONFIG", sim::LauncherModule(), &length, nullptr), nullptr);
    EXPECT_EQ(length, 0u);

    sim::SetResource(u"Text", u"CONFIG", "");
    const char* text = splash::LoadTextResource(u"CONFIG", sim::LauncherModule(), &length, splash::kDefaultSplashConfig);
    EXPECT_NE(text, splash::kDefaultSplashConfig);
    EXPECT_EQ(length, 0u);
}

TEST_F(SplashResources, ConfigComesFromTheResourceOrTheDefault) {
    EXPECT_EQ(LoadConfig()->count, 3);

    // A resource of 0 bytes is one entry with an empty key, and no splash.
    sim::SetResource(u"Text", u"CONFIG", "");
    Config config = LoadConfig();
    ASSERT_EQ(config->count, 1);
    EXPECT_STREQ(config->keys[0], "");
    EXPECT_EQ(config->values[0], nullptr);
    EXPECT_EQ(Choice(splash::ChooseSplashForScreen(config.get(), 240, 320)), nullptr);

    sim::Fail("LoadResource");
    EXPECT_EQ(LoadConfig()->count, 3);
}

TEST_F(SplashResources, ChooseSplashAsksTheScreenSize) {
    sim::SetScreenSize(480, 640);
    Config config(splash::ParseSplashConfig(splash::kDefaultSplashConfig, 106));
    Choice choice(splash::ChooseSplash(config.get()));
    ASSERT_NE(choice, nullptr);
    EXPECT_STREQ(choice->resourceName, "Splash300.bmp");
    EXPECT_STREQ(choice->title, "The Big Splash Screen");
    EXPECT_EQ(choice->screenWidth, 480);
    EXPECT_EQ(choice->screenHeight, 640);
}

}  // namespace
