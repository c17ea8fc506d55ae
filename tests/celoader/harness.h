// What the programs of celoader share: the folders a run is given, one
// run's record, a transcript, and the helpers more than one of them needs.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace celoader {

// What a run shows, line by line; two runs agree when their transcripts are equal.
using Transcript = std::vector<std::string>;

// Where the programs are: given once, on the command line.
struct Folders {
    std::string build;    // the wince-arm build folder
    std::string copies;   // the folder of the launcher copies kelpack made
    std::string engine;   // the device engine library
};

// One run's record, made afresh for each run, so that nothing of one run
// carries over into the next.
struct Context {
    explicit Context(const Folders& given) : folders(given) {}
    const Folders& folders;
    bool device = false;                 // the device kel.exe's run, else the host build's
    platform::HWND running = nullptr;    // the other instance's window in the handoff
    std::string port;                    // the listener's port, which transcripts name PORT
    bool listening = false;              // a listener waits for the relay
    void* taken = nullptr;               // memory over the engine's preferred base
    int screenWidth = 240;               // the screen the run is on
    int screenHeight = 320;
};

// The copies (copies.cpp): the pictures into dir and each copy's kelpack
// options printed; full.exe's resource section overwritten into garbled.exe.
int PrintCopies(const std::string& dir);
bool MakeGarbled(const std::string& copies, std::string* error);
bool WriteFile(const std::string& path, const std::string& bytes);
extern const char kGarbled[];

// Reads back what every run shows (scenarios.cpp): the exit code, what
// inspect adds, each thread's calls (but those of the thread `apart`), the
// message boxes and what the engine recorded.
Transcript Collect(const Context& c, int code, void (*inspect)(const Context&, Transcript*),
                   platform::DWORD apart = 0);
// ServerPort, as a 4-byte REG_DWORD, under the engine's key.
void WriteServerPort(uint32_t port);

// A run in a process of its own (faults.cpp), so that one that crashes or
// hangs is seen as what it is: its transcript, or how it ended.
Transcript InChild(const std::function<Transcript()>& run);

// Plants each fault of the table in turn (faults.cpp) in the device runs of
// the scenarios that call its function (runDevice(i): scenario i's device
// run, in the process it is called in), until one differs from its host
// run; prints the table. 0 when every fault was caught, each first by the
// line the table names for it.
int PlantFaults(const std::vector<std::string>& names, const std::vector<Transcript>& host,
                const std::vector<Transcript>& device, const std::function<Transcript(size_t)>& runDevice);

// Waits up to seconds for a condition, looking every 10 ms.
template <typename F>
bool Within(int seconds, F condition) {
    for (int i = 0; i < seconds * 100; ++i) {
        if (condition()) return true;
        usleep(10000);
    }
    return condition();
}

// Another start of the same device program with a line, beside the one
// running (sample_engine.cpp): a process of its own, run on the calling thread; its exit code.
int SecondStart(const std::string& program, const char16_t* line);

// The programs: every scenario on both builds (with faults, the planted
// faults too); the sample engine's scenarios; `celoader run`.
int RunScenarios(const Folders& folders, bool show, bool faults);
int RunSampleEngine(const Folders& folders, bool show);
int RunOne(int argc, char** argv);

}  // namespace celoader
