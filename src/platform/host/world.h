// Shared internals of the simulation's pieces; not for tests (they use sim.h).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include <cstdint>

#include "platform/host/sim.h"

namespace sim::internal {

// The one lock over the simulated world; recursive, since window procedures
// call back into the simulation while a dispatch holds it.
std::recursive_mutex& Mutex();

// ASCII upper-casing, the way the platform folds resource, key and class names.
std::u16string Upper(const std::u16string& s);
// A name argument as text: an integer id below 0x10000 becomes "#id"; null becomes "".
std::u16string NameText(const char16_t* name);

// Each piece of the world forgets its state; Reset calls them all.
void ResetModules();
void ResetRegistry();
void ResetWindows();
void ResetSockets();
void ResetGdi();
void ResetThreads();

// Posts WM_QUIT to every thread that CreateThread started and joins them all.
// Called without the lock: the threads need it to fetch their WM_QUIT.
void EndThreads();

// ---------------------------------------------------------------- shared between windows, GDI and threads

// Notified whenever a queue, a window's paint state, an event or a thread changes;
// waiters use it with the world lock held once.
std::condition_variable_any& Changed();
// The simulated id of the calling thread; threads the simulation did not start get one on first use.
platform::DWORD CurrentThreadId();
// Whether a thread id belongs to a thread that runs (or the test's own threads).
bool ThreadAlive(platform::DWORD threadId);
// When a timed wait of the given length ends, after SetWaitSpeedup.
std::chrono::steady_clock::time_point WaitDeadline(platform::DWORD milliseconds);
// Queues a message for a thread (window null: a thread message); false when the thread is gone.
bool QueueMessage(platform::DWORD threadId, const platform::MSG& message);
// A thread has ended: its windows go with it and its queue is dropped.
void ThreadEnded(platform::DWORD threadId);

// A device context that draws on the screen through a window at (x, y), clipped to it.
platform::HDC CreateWindowDC(int x, int y, int width, int height);
// Releases a context made by CreateWindowDC; false when it is no such context.
bool ReleaseWindowDC(platform::HDC dc);
// The colour a brush paints with; false for no brush or the null brush.
bool BrushColour(platform::HBRUSH brush, uint32_t* colour);
// Fills a rectangle of the screen, clipped to it.
void FillScreen(int x, int y, int width, int height, uint32_t colour);

}  // namespace sim::internal
