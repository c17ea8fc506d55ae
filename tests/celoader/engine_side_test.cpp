// What an engine calls beyond the launcher (engine_side.h): the device's
// meaning of each, as the device sample engine relies on it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "engine_side.h"
#include "sim.h"

namespace {

namespace engine = celoader::engine;

class EngineSide : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override { sim::Reset(); }
};

std::vector<platform::UINT> g_seen;   // messages the test procedure was given, in order

platform::LRESULT Recording(platform::HWND w, platform::UINT m, platform::WPARAM p, platform::LPARAM l) {
    g_seen.push_back(m);
    return platform::DefWindowProcW(w, m, p, l);
}

platform::HWND MakeWindow(const char16_t* className, platform::DWORD style = 0, platform::HWND parent = nullptr,
                          int id = 0) {
    platform::WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = Recording;
    windowClass.hInstance = sim::LauncherModule();
    windowClass.lpszClassName = className;
    if (!sim::GetClassInfo(className)) platform::RegisterClassW(&windowClass);
    return platform::CreateWindowExW(0, className, u"title", style, 0, 0, 10, 10, parent,
                                     reinterpret_cast<platform::HMENU>(static_cast<uintptr_t>(id)),
                                     sim::LauncherModule(), nullptr);
}

TEST_F(EngineSide, WindowsAreEnumeratedNamedAndOwnedAsTheDeviceDoes) {
    platform::HWND first = MakeWindow(u"First");
    platform::HWND foreign = sim::AddForeignWindow(u"Other");
    platform::HWND second = MakeWindow(u"SecondClassWithALongName");
    platform::HWND child = MakeWindow(u"First", 0x40000000u /* WS_CHILD */, second, 100);
    ASSERT_NE(child, nullptr);
    static std::vector<platform::HWND> seen;
    seen.clear();
    // Top-level windows only, the newest first; FALSE stops the walk and is the result.
    auto all = [](platform::HWND w, platform::LPARAM) -> platform::BOOL { return seen.push_back(w), platform::TRUE; };
    EXPECT_EQ(engine::EnumWindows(all, 0), platform::TRUE);
    EXPECT_EQ(seen, (std::vector<platform::HWND>{second, foreign, first}));
    seen.clear();
    auto one = [](platform::HWND w, platform::LPARAM) -> platform::BOOL { return seen.push_back(w), platform::FALSE; };
    EXPECT_EQ(engine::EnumWindows(one, 0), platform::FALSE);
    EXPECT_EQ(seen.size(), 1u);

    // Class names are cut to the room less the terminator; the count excludes it.
    char16_t name[8];
    EXPECT_EQ(engine::GetClassNameW(second, name, 8), 7);
    EXPECT_EQ(std::u16string(name), u"SecondC");
    EXPECT_EQ(engine::GetClassNameW(foreign, name, 8), 5);
    EXPECT_EQ(engine::GetClassNameW(nullptr, name, 8), 0);

    // Own windows are this process's and their thread's; a foreign one is neither.
    platform::DWORD process = 0;
    platform::DWORD thread = engine::GetWindowThreadProcessId(first, &process);
    EXPECT_EQ(process, static_cast<platform::DWORD>(getpid()));
    EXPECT_EQ(thread, sim::GetWindowInfo(first)->threadId);
    engine::GetWindowThreadProcessId(foreign, &process);
    EXPECT_NE(process, static_cast<platform::DWORD>(getpid()));
    EXPECT_EQ(engine::PostThreadMessageW(engine::GetWindowThreadProcessId(foreign, nullptr), 18, 0, 0), platform::FALSE);

    EXPECT_EQ(engine::GetDlgItem(second, 100), child);
    EXPECT_EQ(engine::GetDlgItem(first, 100), nullptr);
    EXPECT_EQ(engine::GetWindowLongW(child, -16), static_cast<int32_t>(0x40000000u));
    EXPECT_EQ(engine::GetWindowLongW(child, -12), 100);
}

TEST_F(EngineSide, DestroyingSendsWmDestroyToTheWindowAndItsChildrenAndEndsTheLoopOnPostQuit) {
    platform::HWND parent = MakeWindow(u"P");
    platform::HWND child = MakeWindow(u"P", 0x40000000u, parent, 7);
    g_seen.clear();
    EXPECT_EQ(platform::DestroyWindow(parent), platform::TRUE);
    EXPECT_EQ(g_seen, (std::vector<platform::UINT>{2, 2}));
    EXPECT_FALSE(sim::GetWindowInfo(child)->alive);
    EXPECT_EQ(platform::DestroyWindow(parent), platform::FALSE);

    engine::PostQuitMessage(5);
    platform::MSG message{};
    EXPECT_EQ(platform::GetMessageW(&message, nullptr, 0, 0), 0);
    EXPECT_EQ(message.wParam, 5u);
}

TEST_F(EngineSide, ShowAndUpdatePaintOnceAndTheEditControlKeepsItsText) {
    platform::HWND window = MakeWindow(u"W");
    EXPECT_EQ(engine::ShowWindow(window, 6 /* SW_MINIMIZE: not on the device */), platform::FALSE);
    EXPECT_EQ(engine::GetWindowLongW(window, -16) & 0x10000000, 0);
    EXPECT_EQ(engine::ShowWindow(window, 1), platform::FALSE);
    EXPECT_EQ(engine::ShowWindow(window, 5), platform::TRUE);
    g_seen.clear();
    EXPECT_EQ(engine::UpdateWindow(window), platform::TRUE);
    EXPECT_EQ(engine::UpdateWindow(window), platform::TRUE);   // validated by DefWindowProcW: no second paint
    EXPECT_EQ(g_seen, (std::vector<platform::UINT>{platform::WM_PAINT}));

    // The edit control is the device's own class: any instance makes one.
    platform::HWND edit = platform::CreateWindowExW(0, u"EDIT", u"ab", 0x40000000u, 0, 0, 0, 0, window,
                                                    reinterpret_cast<platform::HMENU>(3), nullptr, nullptr);
    ASSERT_NE(edit, nullptr);
    engine::SendMessageW(edit, 0xB1, 0x7FFFFFFF, 0x7FFFFFFF);
    engine::SendMessageW(edit, 0xC2, 0, reinterpret_cast<platform::LPARAM>(u"cd"));
    engine::SendMessageW(edit, 0xB1, 0, 1);
    engine::SendMessageW(edit, 0xC2, 0, reinterpret_cast<platform::LPARAM>(u"X"));
    EXPECT_EQ(sim::GetWindowInfo(edit)->title, u"Xbcd");
    // A class goes only while no window of it is left, and only for its own instance.
    EXPECT_EQ(engine::UnregisterClassW(u"W", sim::LauncherModule()), platform::FALSE);
    platform::DestroyWindow(window);
    EXPECT_EQ(engine::UnregisterClassW(u"W", nullptr), platform::FALSE);
    EXPECT_EQ(engine::UnregisterClassW(u"W", sim::LauncherModule()), platform::TRUE);
    EXPECT_EQ(engine::UnregisterClassW(u"EDIT", sim::LauncherModule()), platform::FALSE);
}

TEST_F(EngineSide, MultiByteToWideCharConvertsUtf8AndTheWesternCodePage) {
    char16_t units[16];
    // "é€😀" in UTF-8, then a malformed byte.
    const char utf8[] = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xFF";
    EXPECT_EQ(engine::MultiByteToWideChar(65001, 0, utf8, -1, nullptr, 0), 6);
    EXPECT_EQ(engine::MultiByteToWideChar(65001, 0, utf8, -1, units, 16), 6);
    EXPECT_EQ(std::u16string(units, 6), (std::u16string{0xE9, 0x20AC, 0xD83D, 0xDE00, 0xFFFD, 0}));
    EXPECT_EQ(engine::MultiByteToWideChar(65001, 0, utf8, -1, units, 5), 0);   // too little room
    EXPECT_EQ(engine::MultiByteToWideChar(65001, 1, utf8, -1, units, 16), 0);  // UTF-8 takes no flags
    EXPECT_EQ(engine::MultiByteToWideChar(0, 0, "\x80\xE9", 2, units, 16), 2);
    EXPECT_EQ(std::u16string(units, 2), (std::u16string{0x20AC, 0xE9}));
    EXPECT_EQ(engine::MultiByteToWideChar(1200, 0, "a", 1, units, 16), 0);     // no such code page here
}

TEST_F(EngineSide, AListenerAcceptsReceivesAndIsEndedByItsClose) {
    platform::WSADATA data;
    ASSERT_EQ(platform::WSAStartup(0x202, &data), 0);
    platform::SOCKET listener = platform::socket(platform::AF_INET, 1, 6);
    platform::SOCKADDR_IN address{};
    address.sin_family = platform::AF_INET;
    address.sin_addr = platform::inet_addr("127.0.0.1");
    int length = sizeof address;
    EXPECT_EQ(engine::listen(listener, 5), platform::SOCKET_ERROR);       // not bound yet
    EXPECT_EQ(engine::getsockname(listener, &address, &length), platform::SOCKET_ERROR);
    platform::SOCKADDR_IN elsewhere = address;
    elsewhere.sin_addr = platform::inet_addr("10.1.2.3");
    EXPECT_EQ(engine::bind(listener, &elsewhere, sizeof elsewhere), platform::SOCKET_ERROR);
    ASSERT_EQ(engine::bind(listener, &address, sizeof address), 0);
    ASSERT_EQ(engine::listen(listener, 0x7FFFFFFF), 0);
    ASSERT_EQ(engine::getsockname(listener, &address, &length), 0);
    ASSERT_NE(address.sin_port, 0);

    platform::SOCKET sender = platform::socket(platform::AF_INET, 1, 6);
    ASSERT_EQ(platform::connect(sender, &address, sizeof address), 0);
    ASSERT_EQ(platform::send(sender, "quit 7\n", 7, 0), 7);
    platform::closesocket(sender);
    platform::SOCKET client = engine::accept(listener, nullptr, nullptr);
    ASSERT_NE(client, platform::INVALID_SOCKET);
    char bytes[16] = {};
    int got = 0;
    for (int n; (n = engine::recv(client, bytes + got, 15 - got, 0)) > 0;) got += n;
    EXPECT_EQ(std::string(bytes, static_cast<size_t>(got)), "quit 7\n");
    EXPECT_EQ(engine::recv(client, bytes, 15, 8 /* not winsock's */), platform::SOCKET_ERROR);
    platform::closesocket(client);

    // Another thread blocked in accept comes back once the listener is closed.
    platform::SOCKET accepted = 0;
    std::thread waiting([&] { accepted = engine::accept(listener, nullptr, nullptr); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    platform::closesocket(listener);
    waiting.join();
    EXPECT_EQ(accepted, platform::INVALID_SOCKET);
    EXPECT_EQ(sim::OpenSocketCount(), 0);
}

// A second program beside the first: windows, queues and the registry are
// shared, classes, the launcher module and each mapped library are its own.
TEST_F(EngineSide, ASecondProcessHasItsOwnClassesModuleAndLibraryLoads) {
    static int maps = 0;
    maps = 0;
    sim::Library library;
    library.path = u"\\Windows\\Kel.dll";
    library.load = [](sim::Library* loaded) {
        loaded->handle = reinterpret_cast<platform::HMODULE>(static_cast<uintptr_t>(0x10000000 + 0x100000 * ++maps));
        return true;
    };
    sim::InstallLibrary(library);
    platform::HMODULE firstLibrary = platform::LoadLibraryW(u"Kel.dll");
    platform::HMODULE firstLauncher = sim::LauncherModule();
    platform::HWND firstWindow = MakeWindow(u"app_Main");
    ASSERT_NE(firstWindow, nullptr);

    platform::DWORD second = 0, threadProcess = 0;
    platform::HMODULE secondLibrary = nullptr;
    platform::HWND secondWindow = nullptr, refused = nullptr;
    std::thread other([&] {
        second = celoader::StartProcess();
        // The first's class is not this process's; registered here, it is.
        refused = platform::CreateWindowExW(0, u"app_Main", u"t", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        secondWindow = MakeWindow(u"app_Main");
        secondLibrary = platform::LoadLibraryW(u"Kel.dll");
        // A thread it starts is its too.
        platform::HANDLE thread = platform::CreateThread(
            nullptr, 0, [](void* out) -> platform::DWORD { return *static_cast<platform::DWORD*>(out) = celoader::CurrentProcessId(); },
            &threadProcess, 0, nullptr);
        platform::WaitForSingleObject(thread, 5000);
        celoader::EnterProcess(celoader::FirstProcessId());
    });
    other.join();

    EXPECT_EQ(celoader::CurrentProcessId(), celoader::FirstProcessId());
    EXPECT_EQ(celoader::FirstProcessId(), static_cast<platform::DWORD>(getpid()));
    EXPECT_NE(second, celoader::CurrentProcessId());
    EXPECT_EQ(threadProcess, second);
    EXPECT_EQ(refused, nullptr);
    ASSERT_NE(secondWindow, nullptr);
    // The library was mapped again for the second, at a handle of its own; the first's load stands.
    EXPECT_EQ(maps, 2);
    EXPECT_NE(secondLibrary, firstLibrary);
    EXPECT_EQ(sim::LoadCount(firstLibrary), 1);
    EXPECT_EQ(sim::LoadCount(secondLibrary), 1);
    EXPECT_EQ(sim::LauncherModule(), firstLauncher);
    // Either process finds the other's window and tells whose it is.
    platform::DWORD process = 0;
    engine::GetWindowThreadProcessId(secondWindow, &process);
    EXPECT_EQ(process, second);
    engine::GetWindowThreadProcessId(firstWindow, &process);
    EXPECT_EQ(process, celoader::FirstProcessId());
    EXPECT_EQ(platform::FindWindowW(u"app_Main", nullptr), firstWindow);
}

}  // namespace
