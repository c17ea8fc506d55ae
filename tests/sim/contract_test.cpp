// The simulation holds callers to the device's contract: values the device
// does not take fail, and what it does with the ones it takes is modelled.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "sim.h"

namespace {

using platform::HKEY_LOCAL_MACHINE;

constexpr int kPatienceMs = 20000;
constexpr platform::LONG kInvalidParameter = 87;

class SimContract : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override { sim::Reset(); }
};

// One call with a value the device does not take, which it refuses.
struct Refusal {
    const char* what;
    std::function<bool()> succeeds;   // makes the call on a fresh world
};

TEST_F(SimContract, ValuesTheDeviceDoesNotTakeFail) {
    static int routineRuns;
    auto routine = [](void*) -> platform::DWORD { return ++routineRuns, 0; };
    static const platform::WNDPROC plain = [](platform::HWND w, platform::UINT m, platform::WPARAM p,
                                              platform::LPARAM l) { return platform::DefWindowProcW(w, m, p, l); };
    auto window = [](platform::DWORD exStyle, platform::DWORD style, platform::HWND parent,
                     platform::HINSTANCE instance) {
        platform::WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = plain;
        windowClass.hInstance = sim::LauncherModule();
        windowClass.lpszClassName = u"C";
        platform::RegisterClassW(&windowClass);
        return platform::CreateWindowExW(exStyle, u"C", u"", style, 0, 0, 10, 10, parent, nullptr, instance,
                                         nullptr) != nullptr;
    };
    auto section = [](platform::UINT usage, platform::HANDLE mapping, platform::WORD planes) {
        platform::BITMAPINFO info{};
        info.bmiHeader = {40, 2, 2, planes, 24, platform::BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        return platform::CreateDIBSection(nullptr, &info, usage, &bits, mapping, 0) != nullptr;
    };
    int notAHandle = 0;
    auto* stranger = reinterpret_cast<platform::HANDLE>(&notAHandle);
    std::vector<Refusal> refusals = {
        {"a key created with a reserved word",
         [] {
             platform::HKEY key = nullptr;
             return platform::RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"A", 1, nullptr, 0, 0, nullptr, &key,
                                              nullptr) == platform::ERROR_SUCCESS;
         }},
        {"a key opened with options",
         [] {
             sim::SetRegistryString(HKEY_LOCAL_MACHINE, u"A", u"v", u"x");
             platform::HKEY key = nullptr;
             return platform::RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"A", 1, 0, &key) == platform::ERROR_SUCCESS;
         }},
        {"a value read with a reserved pointer",
         [] {
             sim::SetRegistryString(HKEY_LOCAL_MACHINE, u"A", u"v", u"x");
             platform::HKEY key = nullptr;
             platform::RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"A", 0, 0, &key);
             platform::DWORD reserved = 0, size = 0;
             return platform::RegQueryValueExW(key, u"v", &reserved, nullptr, nullptr, &size) ==
                    platform::ERROR_SUCCESS;
         }},
        {"a value written with a reserved word",
         [] {
             platform::HKEY key = nullptr;
             platform::RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"A", 0, nullptr, 0, 0, nullptr, &key, nullptr);
             const platform::BYTE bytes[4] = {1, 0, 0, 0};
             return platform::RegSetValueExW(key, u"v", 1, platform::REG_DWORD, bytes, 4) == platform::ERROR_SUCCESS;
         }},
        {"a thread with security attributes",
         [&] {
             platform::DWORD id = 0;
             return platform::CreateThread(&notAHandle, 0, routine, nullptr, 0, &id) != nullptr;
         }},
        {"a thread with a flag the device lacks",
         [&] {
             platform::DWORD id = 0;
             return platform::CreateThread(nullptr, 0, routine, nullptr, 0x8, &id) != nullptr;
         }},
        {"a thread reserving more stack than the process has",
         [&] {
             platform::DWORD id = 0;
             return platform::CreateThread(nullptr, 64u << 20, routine, nullptr, 0x10000, &id) != nullptr;
         }},
        {"an event with security attributes",
         [&] { return platform::CreateEventW(&notAHandle, 0, 0, nullptr) != nullptr; }},
        {"a section in a mapping that is none", [&] { return section(platform::DIB_RGB_COLORS, stranger, 1); }},
        {"a section of two planes", [&] { return section(platform::DIB_RGB_COLORS, nullptr, 2); }},
        {"a section with colours of no kind", [&] { return section(7, nullptr, 1); }},
        {"a maximised window", [&] { return window(0, 0x01000000u | platform::WS_POPUP, nullptr, nullptr); }},
        {"a sizable window", [&] { return window(0, 0x00040000u | platform::WS_POPUP, nullptr, nullptr); }},
        {"a layered window", [&] { return window(0x80000u, platform::WS_POPUP, nullptr, nullptr); }},
        {"a tool window", [&] { return window(0x80u, platform::WS_POPUP, nullptr, nullptr); }},
        {"a window whose parent is none",
         [&] { return window(0, platform::WS_POPUP, reinterpret_cast<platform::HWND>(&notAHandle), nullptr); }},
        {"a child without a parent", [&] { return window(0, 0x40000000u, nullptr, nullptr); }},
        {"a window of a class another instance registered",
         [&] {
             return window(0, platform::WS_POPUP, nullptr,
                           reinterpret_cast<platform::HINSTANCE>(static_cast<uintptr_t>(0x7000)));
         }},
        {"a display context of another driver",
         [] { return platform::CreateDCW(u"PRINTER", nullptr, nullptr, nullptr) != nullptr; }},
        {"a socket layer older than 1.1",
         [] {
             platform::WSADATA data;
             return platform::WSAStartup(0x0001, &data) == 0;
         }},
        {"a socket of another family",
         [] {
             platform::WSADATA data;
             platform::WSAStartup(0x0202, &data);
             platform::SOCKET s = platform::socket(23, platform::SOCK_STREAM, 0);
             if (s != platform::INVALID_SOCKET) platform::closesocket(s);
             return s != platform::INVALID_SOCKET;
         }},
        {"a library path of 260 characters",
         [] {
             std::u16string path = u"\\" + std::u16string(251, u'd') + u"\\Kel.dll";
             sim::InstallLibrary({path, {}});
             return platform::LoadLibraryW(path.c_str()) != nullptr;
         }},
        {"a library by its bare name, where no search looks",
         [] {
             sim::InstallLibrary({u"Kel.dll", {}});
             return platform::LoadLibraryW(u"Kel.dll") != nullptr;
         }},
    };
    for (const Refusal& refusal : refusals) {
        sim::Reset();
        EXPECT_FALSE(refusal.succeeds()) << refusal.what;
    }
    sim::Reset();

    // What the device ignores is taken: options and access of a created key, a stack size that is no reservation.
    platform::HKEY key = nullptr;
    EXPECT_EQ(platform::RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"B", 0, nullptr, 1 /* REG_OPTION_VOLATILE */,
                                        0xF003F /* KEY_ALL_ACCESS */, nullptr, &key, nullptr),
              platform::ERROR_SUCCESS);
    EXPECT_EQ(platform::RegCloseKey(key), platform::ERROR_SUCCESS);
    platform::DWORD id = 0;
    EXPECT_NE(platform::CreateThread(nullptr, 64u << 20, routine, nullptr, 0, &id), nullptr);
    EXPECT_EQ(sim::WaitForThreadEnd(id, kPatienceMs), platform::DWORD{0});
    EXPECT_TRUE(window(0x8 /* WS_EX_TOPMOST */, platform::WS_POPUP | 0x00C00000u /* WS_CAPTION */, nullptr,
                       sim::LauncherModule()));
}

TEST_F(SimContract, EveryArgumentIsLogged) {
    platform::HKEY key = nullptr;
    platform::RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\K", 0, nullptr, 1, 0x20006, nullptr, &key, nullptr);
    const platform::BYTE bytes[4] = {1, 2, 3, 4};
    platform::RegSetValueExW(key, u"Port", 0, platform::REG_DWORD, bytes, 4);
    platform::RegCloseKey(key);
    platform::CreateEventW(nullptr, platform::TRUE, platform::FALSE, u"Ready");
    // An integer id in place of a name is spelt as a resource script spells it, and found so.
    sim::SetResource(u"#3", u"#50", "icon");
    auto* id = reinterpret_cast<const char16_t*>(static_cast<uintptr_t>(50));
    auto* type = reinterpret_cast<const char16_t*>(static_cast<uintptr_t>(3));
    EXPECT_NE(platform::FindResourceW(sim::LauncherModule(), id, type), nullptr);
    std::vector<std::string> expected = {
        "RegCreateKeyExW(key:HKLM, \"Software\\K\", 0, null, 0x1, 0x20006, null, ptr, null)",
        "RegSetValueExW(key:HKLM\\Software\\K, \"Port\", 0, 4, ptr, 4)", "RegCloseKey(key:HKLM\\Software\\K)",
        "CreateEventW(null, 1, 0, \"Ready\")", "FindResourceW(module:launcher, #50, #3)"};
    EXPECT_EQ(sim::CallLog(), expected);
}

std::atomic<int> g_runs{0};
platform::DWORD Count(void*) { return ++g_runs, 5; }

TEST_F(SimContract, SuspendedThreadNeverRuns) {
    g_runs = 0;
    platform::DWORD id = 0;
    platform::HANDLE thread = platform::CreateThread(nullptr, 0, Count, nullptr, 0x4 /* CREATE_SUSPENDED */, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(sim::StartedThreads(), std::vector<platform::DWORD>{id});
    // Nothing resumes it: it does not end, and a wait on it runs out.
    EXPECT_EQ(sim::WaitForThreadEnd(id, 50), std::nullopt);
    EXPECT_EQ(platform::WaitForSingleObject(thread, 20), platform::WAIT_TIMEOUT);
    EXPECT_EQ(g_runs, 0);
    sim::Reset();
    EXPECT_EQ(g_runs, 0);

    // A thread that runs signals its handle when it ends.
    thread = platform::CreateThread(nullptr, 0, Count, nullptr, 0, &id);
    EXPECT_EQ(platform::WaitForSingleObject(thread, kPatienceMs), platform::WAIT_OBJECT_0);
    EXPECT_EQ(g_runs, 1);
}

TEST_F(SimContract, EventsKeepTheirKindAndState) {
    // Manual reset: every wait goes through until it is reset.
    platform::HANDLE manual = platform::CreateEventW(nullptr, platform::TRUE, platform::FALSE, nullptr);
    EXPECT_EQ(platform::WaitForSingleObject(manual, 0), platform::WAIT_TIMEOUT);
    EXPECT_TRUE(platform::EventModify(manual, platform::EVENT_SET));
    EXPECT_EQ(platform::WaitForSingleObject(manual, 0), platform::WAIT_OBJECT_0);
    EXPECT_EQ(platform::WaitForSingleObject(manual, 0), platform::WAIT_OBJECT_0);
    EXPECT_TRUE(platform::EventModify(manual, 2 /* EVENT_RESET */));
    EXPECT_EQ(platform::WaitForSingleObject(manual, 0), platform::WAIT_TIMEOUT);

    // Signalled from the start; an auto-reset one lets one wait through.
    platform::HANDLE set = platform::CreateEventW(nullptr, platform::FALSE, platform::TRUE, nullptr);
    EXPECT_EQ(platform::WaitForSingleObject(set, 0), platform::WAIT_OBJECT_0);
    EXPECT_EQ(platform::WaitForSingleObject(set, 0), platform::WAIT_TIMEOUT);

    // A pulse with nobody waiting leaves it clear; with a waiter, releases it.
    EXPECT_TRUE(platform::EventModify(set, 1 /* EVENT_PULSE */));
    EXPECT_EQ(platform::WaitForSingleObject(set, 0), platform::WAIT_TIMEOUT);
    platform::DWORD id = 0;
    static platform::HANDLE pulsed;
    pulsed = set;
    platform::CreateThread(nullptr, 0, [](void*) { return platform::WaitForSingleObject(pulsed, kPatienceMs); },
                           nullptr, 0, &id);
    // The waiter may not be waiting yet when the first pulse comes; pulse until it is through.
    for (int i = 0; i < 1000 && !sim::WaitForThreadEnd(id, 1); ++i) platform::EventModify(set, 1);
    EXPECT_EQ(sim::WaitForThreadEnd(id, kPatienceMs), platform::WAIT_OBJECT_0);
    EXPECT_FALSE(platform::EventModify(set, 9));

    // A name already taken is the same event.
    platform::HANDLE named = platform::CreateEventW(nullptr, platform::FALSE, platform::FALSE, u"Ready");
    EXPECT_EQ(platform::CreateEventW(nullptr, platform::TRUE, platform::TRUE, u"Ready"), named);
}

platform::HBITMAP Section24(uint32_t colour, int w, int h) {
    platform::BITMAPINFO info{};
    info.bmiHeader = {40, w, h, 1, 24, platform::BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    platform::HBITMAP bitmap = platform::CreateDIBSection(nullptr, &info, platform::DIB_RGB_COLORS, &bits, nullptr, 0);
    auto* bytes = static_cast<uint8_t*>(bits);
    for (int i = 0; i < w * h; ++i) {
        bytes[3 * i] = colour & 0xFF;
        bytes[3 * i + 1] = (colour >> 8) & 0xFF;
        bytes[3 * i + 2] = (colour >> 16) & 0xFF;
    }
    return bitmap;
}

TEST_F(SimContract, RasterOperationsDrawWhatTheyDraw) {
    sim::SetScreenSize(4, 1);
    struct Case {
        const char* name;
        platform::DWORD rop;
        uint32_t expected;   // the source 0x123456 over the desktop colour 0x3A6EA5, the brush white
    };
    const Case cases[] = {
        {"SRCCOPY", 0x00CC0020, 0x123456},
        {"BLACKNESS", 0x00000042, 0x000000},
        {"WHITENESS", 0x00FF0062, 0xFFFFFF},
        {"NOTSRCCOPY", 0x00330008, 0xEDCBA9},
        {"DSTINVERT", 0x00550009, 0xC5915A},
        {"SRCINVERT", 0x00660046, 0x123456 ^ 0x3A6EA5},
        {"SRCAND", 0x008800C6, 0x123456 & 0x3A6EA5},
        {"SRCPAINT", 0x00EE0086, 0x123456 | 0x3A6EA5},
        {"PATCOPY", 0x00F00021, 0xFFFFFF},
    };
    for (const Case& c : cases) {
        sim::Reset();
        sim::SetScreenSize(4, 1);
        platform::HDC screen = platform::CreateDCW(u"DISPLAY", nullptr, nullptr, nullptr);
        platform::HDC memory = platform::CreateCompatibleDC(screen);
        platform::SelectObject(memory, Section24(0x123456, 2, 1));
        EXPECT_TRUE(platform::BitBlt(screen, 0, 0, 2, 1, memory, 0, 0, c.rop)) << c.name;
        EXPECT_EQ(sim::ScreenPixel(0, 0), c.expected) << c.name;
        EXPECT_EQ(sim::ScreenPixel(2, 0), sim::kDesktopColour) << c.name;
        // Those that read no source need none.
        bool readsSource = c.expected != 0x000000 && c.expected != 0xFFFFFF && std::string(c.name) != "DSTINVERT";
        EXPECT_EQ(platform::BitBlt(screen, 3, 0, 1, 1, nullptr, 0, 0, c.rop) != 0, !readsSource) << c.name;
    }
}

TEST_F(SimContract, PaletteIndexesAndTopDownRows) {
    sim::SetScreenSize(2, 2);
    // DIB_PAL_COLORS: the colour table holds indexes into the display's default palette.
    std::vector<uint8_t> storage(sizeof(platform::BITMAPINFOHEADER) + 4 * 2, 0);
    auto* info = reinterpret_cast<platform::BITMAPINFO*>(storage.data());
    info->bmiHeader = {40, 2, -2, 1, 1, platform::BI_RGB, 0, 0, 0, 0, 0};
    const uint16_t indexes[2] = {13 /* red */, 16 /* blue */};
    std::memcpy(info->bmiColors, indexes, sizeof indexes);
    platform::HDC screen = platform::CreateDCW(u"DISPLAY", nullptr, nullptr, nullptr);
    void* bits = nullptr;
    platform::HBITMAP bitmap = platform::CreateDIBSection(screen, info, 1, &bits, nullptr, 0);
    ASSERT_NE(bitmap, nullptr);
    // Top-down (negative height): the first stored row is the top one.
    static_cast<uint8_t*>(bits)[0] = 0x40;   // top row: 0, 1
    platform::HDC memory = platform::CreateCompatibleDC(screen);
    platform::SelectObject(memory, bitmap);
    ASSERT_TRUE(platform::BitBlt(screen, 0, 0, 2, 2, memory, 0, 0, platform::SRCCOPY));
    EXPECT_EQ(sim::ScreenPixel(0, 0), 0xFF0000u);
    EXPECT_EQ(sim::ScreenPixel(1, 0), 0x0000FFu);
    EXPECT_EQ(sim::ScreenPixel(0, 1), 0xFF0000u);
}

TEST_F(SimContract, BareLibraryNamesAreLookedForWhereTheDeviceLooks) {
    sim::SetLauncherPath(u"\\Program Files\\Game\\Game.exe");
    platform::HMODULE system = sim::InstallLibrary({u"\\Windows\\Kel.dll", {}});
    platform::HMODULE beside = sim::InstallLibrary({u"\\Program Files\\Game\\kel.DLL", {}});
    sim::InstallLibrary({u"\\My Documents\\Other.dll", {}});
    // The program's folder first, then \Windows; a full path as it is; nowhere else.
    EXPECT_EQ(platform::LoadLibraryW(u"Kel.dll"), beside);
    EXPECT_EQ(platform::LoadLibraryW(u"\\Windows\\Kel.dll"), system);
    EXPECT_EQ(platform::LoadLibraryW(u"Other.dll"), nullptr);
    EXPECT_NE(platform::LoadLibraryW(u"\\My Documents\\Other.dll"), nullptr);
    sim::SetLauncherPath(u"\\Storage Card\\Game.exe");
    EXPECT_EQ(platform::LoadLibraryW(u"KEL.DLL"), system);
    // The longest path the device takes is 259 characters.
    std::u16string longest = u"\\" + std::u16string(250, u'd') + u"\\Kel.dll";
    ASSERT_EQ(longest.size(), 259u);
    platform::HMODULE far = sim::InstallLibrary({longest, {}});
    EXPECT_EQ(platform::LoadLibraryW(longest.c_str()), far);
}

TEST_F(SimContract, MessageFiltersAreKept) {
    platform::WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = [](platform::HWND w, platform::UINT m, platform::WPARAM p, platform::LPARAM l) {
        return platform::DefWindowProcW(w, m, p, l);
    };
    windowClass.lpszClassName = u"F";
    platform::RegisterClassW(&windowClass);
    platform::HWND window =
        platform::CreateWindowExW(0, u"F", u"", platform::WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    platform::HWND other =
        platform::CreateWindowExW(0, u"F", u"", platform::WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    platform::PostMessageW(other, platform::WM_USER, 1, 0);
    platform::PostMessageW(window, platform::WM_USER + 1, 2, 0);
    platform::PostMessageW(window, platform::WM_USER + 2, 3, 0);
    platform::MSG message{};
    // A window filter passes over the other window's message; a range over those outside it.
    ASSERT_EQ(platform::GetMessageW(&message, window, platform::WM_USER + 2, platform::WM_USER + 9), 1);
    EXPECT_EQ(message.wParam, 3u);
    ASSERT_EQ(platform::GetMessageW(&message, window, 0, 0), 1);
    EXPECT_EQ(message.wParam, 2u);
    ASSERT_EQ(platform::GetMessageW(&message, nullptr, 0, 0), 1);
    EXPECT_EQ(message.wParam, 1u);
    // WM_QUIT comes whatever the range; a window filter that is no window is an error.
    platform::PostMessageW(window, platform::WM_QUIT, 0, 0);
    EXPECT_EQ(platform::GetMessageW(&message, window, platform::WM_USER, platform::WM_USER), 0);
    EXPECT_EQ(platform::GetMessageW(&message, reinterpret_cast<platform::HWND>(&message), 0, 0), -1);
}

// The device's WNDCLASS takes a system colour (its index, flagged, plus one) for a background.
TEST_F(SimContract, AClassBackgroundMayBeASystemColour) {
    platform::WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = [](platform::HWND w, platform::UINT m, platform::WPARAM p, platform::LPARAM l) {
        return platform::DefWindowProcW(w, m, p, l);
    };
    windowClass.lpszClassName = u"Coloured";
    windowClass.hbrBackground = reinterpret_cast<platform::HBRUSH>(static_cast<uintptr_t>(0x40000000 | 5) + 1);
    ASSERT_NE(platform::RegisterClassW(&windowClass), 0);
    windowClass.lpszClassName = u"Odd";
    windowClass.hbrBackground = reinterpret_cast<platform::HBRUSH>(static_cast<uintptr_t>(0x1234));
    platform::RegisterClassW(&windowClass);
    std::vector<std::string> log = sim::CallLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_NE(log[0].find(", colour:5, null, \"Coloured\")"), std::string::npos) << log[0];
    EXPECT_NE(log[1].find(", bad, null, \"Odd\")"), std::string::npos) << log[1];
}

}  // namespace
