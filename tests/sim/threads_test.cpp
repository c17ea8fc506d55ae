// The simulation's threads, events and message queues behave as Windows does
// where the splash depends on it.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "sim.h"

namespace {

constexpr int kPatienceMs = 20000;

class SimThreads : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override { sim::Reset(); }
};

TEST_F(SimThreads, EventLetsOneWaitThroughPerSet) {
    platform::HANDLE event = platform::CreateEventW(nullptr, platform::FALSE, platform::FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(platform::WaitForSingleObject(event, 0), platform::WAIT_TIMEOUT);
    EXPECT_TRUE(platform::EventModify(event, platform::EVENT_SET));
    EXPECT_TRUE(platform::EventModify(event, platform::EVENT_SET));
    EXPECT_EQ(platform::WaitForSingleObject(event, 0), platform::WAIT_OBJECT_0);
    // The wait that got through cleared it; setting twice does not count twice.
    EXPECT_EQ(platform::WaitForSingleObject(event, 0), platform::WAIT_TIMEOUT);

    EXPECT_FALSE(platform::EventModify(nullptr, platform::EVENT_SET));
    EXPECT_EQ(platform::WaitForSingleObject(nullptr, 10), platform::WAIT_FAILED);
    int notAnObject = 0;
    EXPECT_EQ(platform::WaitForSingleObject(reinterpret_cast<platform::HANDLE>(&notAnObject), 10),
              platform::WAIT_FAILED);

    sim::Fail("WaitForSingleObject");
    EXPECT_TRUE(platform::EventModify(event, platform::EVENT_SET));
    EXPECT_EQ(platform::WaitForSingleObject(event, 0), platform::WAIT_FAILED);
    sim::Fail("CreateEventW");
    EXPECT_EQ(platform::CreateEventW(nullptr, platform::FALSE, platform::FALSE, nullptr), nullptr);
}

TEST_F(SimThreads, TimedWaitRunsOutAndReportsItsLength) {
    platform::HANDLE event = platform::CreateEventW(nullptr, platform::FALSE, platform::FALSE, nullptr);
    sim::SetWaitSpeedup(1000);
    EXPECT_EQ(platform::WaitForSingleObject(event, 3000), platform::WAIT_TIMEOUT);
    EXPECT_EQ(sim::CallCount("WaitForSingleObject(event, 3000)"), 1);
    // Unsped, a short real wait runs out as well.
    sim::SetWaitSpeedup(1);
    EXPECT_EQ(platform::WaitForSingleObject(event, 20), platform::WAIT_TIMEOUT);
}

std::atomic<int> g_routineRuns{0};

platform::DWORD SetAndReturn(void* parameter) {
    ++g_routineRuns;
    platform::EventModify(static_cast<platform::HANDLE>(parameter), platform::EVENT_SET);
    return 42;
}

TEST_F(SimThreads, ThreadRunsItsRoutineAndReportsItsEnd) {
    g_routineRuns = 0;
    platform::HANDLE event = platform::CreateEventW(nullptr, platform::FALSE, platform::FALSE, nullptr);
    platform::DWORD id = 0;
    platform::HANDLE thread = platform::CreateThread(nullptr, 0, SetAndReturn, event, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(platform::WaitForSingleObject(event, kPatienceMs), platform::WAIT_OBJECT_0);
    EXPECT_EQ(sim::WaitForThreadEnd(id, kPatienceMs), platform::DWORD{42});
    EXPECT_EQ(sim::StartedThreads(), std::vector<platform::DWORD>{id});
    EXPECT_EQ(g_routineRuns, 1);
    EXPECT_FALSE(sim::PostThreadMessage(id, platform::WM_USER));

    // Each thread's calls apart: the started one's, and the test's own.
    EXPECT_EQ(sim::CallLogOf(id), std::vector<std::string>{"EventModify(event, 3)"});
    EXPECT_EQ(sim::CallLogOf(0), (std::vector<std::string>{"CreateEventW(null, 0, 0, null)", "CreateThread(null, 0, ptr, ptr, 0x0, ptr)", "WaitForSingleObject(event, 20000)"}));

    sim::Fail("CreateThread");
    EXPECT_EQ(platform::CreateThread(nullptr, 0, SetAndReturn, event, 0, &id), nullptr);
    EXPECT_EQ(g_routineRuns, 1);
}

// A message loop that keeps what it was given until WM_QUIT.
struct Loop {
    std::vector<platform::MSG> received;
    std::atomic<bool> ended{false};
    platform::HWND window = nullptr;
    platform::HANDLE ready = nullptr;
};
Loop* g_loop = nullptr;

platform::LRESULT Recorder(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                           platform::LPARAM lParam) {
    if (message == platform::WM_PAINT) {
        platform::PAINTSTRUCT paint;
        platform::BeginPaint(window, &paint);
        platform::EndPaint(window, &paint);
    }
    return platform::DefWindowProcW(window, message, wParam, lParam);
}

platform::DWORD LoopThread(void*) {
    platform::WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = Recorder;
    windowClass.lpszClassName = u"Loop";
    platform::RegisterClassW(&windowClass);
    g_loop->window = platform::CreateWindowExW(0, u"loop", u"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    platform::EventModify(g_loop->ready, platform::EVENT_SET);
    platform::MSG message;
    while (platform::GetMessageW(&message, nullptr, 0, 0) > 0) {
        g_loop->received.push_back(message);
        platform::DispatchMessageW(&message);
    }
    g_loop->received.push_back(message);
    // As the splash does, the window goes once the loop has ended.
    platform::DestroyWindow(g_loop->window);
    g_loop->ended = true;
    return 3;
}

TEST_F(SimThreads, QueuesDeliverPostedMessagesInOrderAndQuitEndsTheLoop) {
    Loop state;
    g_loop = &state;
    state.ready = platform::CreateEventW(nullptr, platform::FALSE, platform::FALSE, nullptr);
    platform::DWORD id = 0;
    ASSERT_NE(platform::CreateThread(nullptr, 0, LoopThread, nullptr, 0, &id), nullptr);
    ASSERT_EQ(platform::WaitForSingleObject(state.ready, kPatienceMs), platform::WAIT_OBJECT_0);
    ASSERT_NE(state.window, nullptr);
    EXPECT_EQ(sim::GetWindowInfo(state.window)->threadId, id);

    // Posted from this thread, fetched by the window's own thread, which blocks until then.
    EXPECT_TRUE(platform::PostMessageW(state.window, platform::WM_USER + 1, 10, 20));
    EXPECT_TRUE(sim::PostThreadMessage(id, platform::WM_USER + 2, 30, 40));
    EXPECT_TRUE(sim::PostThreadMessage(id, platform::WM_QUIT, 5));
    EXPECT_EQ(sim::WaitForThreadEnd(id, kPatienceMs), platform::DWORD{3});
    ASSERT_TRUE(state.ended);
    ASSERT_EQ(state.received.size(), 3u);
    EXPECT_EQ(state.received[0].message, platform::WM_USER + 1);
    EXPECT_EQ(state.received[0].hwnd, state.window);
    EXPECT_EQ(state.received[0].wParam, 10u);
    EXPECT_EQ(state.received[0].lParam, 20);
    EXPECT_EQ(state.received[1].message, platform::WM_USER + 2);
    EXPECT_EQ(state.received[1].hwnd, nullptr);
    EXPECT_EQ(state.received[2].message, platform::WM_QUIT);
    EXPECT_EQ(state.received[2].wParam, 5u);
    // The window (invisible) was never painted; it is gone.
    EXPECT_EQ(sim::GetWindowInfo(state.window)->paints, 0);
    EXPECT_FALSE(sim::GetWindowInfo(state.window)->alive);
    EXPECT_FALSE(platform::PostMessageW(state.window, platform::WM_USER, 0, 0));
    g_loop = nullptr;
}

TEST_F(SimThreads, PaintComesWhenTheQueueIsEmptyAndOnlyWhileInvalid) {
    platform::WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = Recorder;
    windowClass.lpszClassName = u"Painted";
    ASSERT_NE(platform::RegisterClassW(&windowClass), 0);
    platform::HWND window = platform::CreateWindowExW(0, u"Painted", u"", platform::WS_VISIBLE, 0, 0, 4, 4, nullptr,
                                                      nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    platform::PostMessageW(window, platform::WM_USER, 0, 0);

    platform::MSG message;
    ASSERT_EQ(platform::GetMessageW(&message, nullptr, 0, 0), 1);
    EXPECT_EQ(message.message, platform::WM_USER);
    ASSERT_EQ(platform::GetMessageW(&message, nullptr, 0, 0), 1);
    EXPECT_EQ(message.message, platform::WM_PAINT);
    EXPECT_EQ(message.hwnd, window);
    // Not validated yet: it comes again.
    ASSERT_EQ(platform::GetMessageW(&message, nullptr, 0, 0), 1);
    EXPECT_EQ(message.message, platform::WM_PAINT);
    platform::DispatchMessageW(&message);
    EXPECT_EQ(sim::GetWindowInfo(window)->paints, 1);

    // Validated: the next fetch gets what is posted, then quits.
    sim::InvalidateWindow(window);
    sim::PostThreadMessage(sim::GetWindowInfo(window)->threadId, platform::WM_QUIT);
    ASSERT_EQ(platform::GetMessageW(&message, nullptr, 0, 0), 0);
    ASSERT_EQ(platform::GetMessageW(&message, nullptr, 0, 0), 1);
    EXPECT_EQ(message.message, platform::WM_PAINT);

    sim::Fail("GetMessageW");
    EXPECT_EQ(platform::GetMessageW(&message, nullptr, 0, 0), -1);
}

TEST_F(SimThreads, CloseDestroysAndForeignWindowsStillRecord) {
    platform::WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = Recorder;
    windowClass.lpszClassName = u"Closing";
    platform::RegisterClassW(&windowClass);
    platform::HWND window =
        platform::CreateWindowExW(0, u"Closing", u"", 0, 0, 0, 4, 4, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(platform::CreateWindowExW(0, u"Unregistered", u"", 0, 0, 0, 4, 4, nullptr, nullptr, nullptr, nullptr),
              nullptr);
    sim::SetDefWindowProcResult(9);
    EXPECT_EQ(platform::DefWindowProcW(window, platform::WM_CLOSE, 0, 0), 9);
    EXPECT_FALSE(sim::GetWindowInfo(window)->alive);
    EXPECT_FALSE(platform::DestroyWindow(window));

    platform::HWND foreign = sim::AddForeignWindow(u"Game_run");
    EXPECT_TRUE(platform::PostMessageW(foreign, 1038, 0, 0));
    ASSERT_EQ(sim::PostedMessages(foreign).size(), 1u);
    EXPECT_EQ(sim::PostedMessages(foreign)[0].message, 1038u);
    EXPECT_FALSE(platform::DestroyWindow(foreign));
}

platform::DWORD Loops(void* ended) {
    platform::MSG message;
    while (platform::GetMessageW(&message, nullptr, 0, 0) > 0) platform::DispatchMessageW(&message);
    *static_cast<std::atomic<bool>*>(ended) = true;
    return 0;
}

TEST_F(SimThreads, ResetEndsThreadsBlockedInTheirLoop) {
    std::atomic<bool> first{false}, second{false};
    ASSERT_NE(platform::CreateThread(nullptr, 0, Loops, &first, 0, nullptr), nullptr);
    ASSERT_NE(platform::CreateThread(nullptr, 0, Loops, &second, 0, nullptr), nullptr);
    sim::Reset();
    EXPECT_TRUE(first);
    EXPECT_TRUE(second);
    EXPECT_TRUE(sim::StartedThreads().empty());
}

}  // namespace
