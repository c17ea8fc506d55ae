// The launch sequence against the simulated platform: engine loading, the
// message boxes, the arguments and result of the engine, the registration trigger.
#include "launcher/launcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/engine.h"
#include "sim.h"
#include "text_helpers.h"

namespace {

using platform::HKEY_CLASSES_ROOT;

// What the test engine saw when it was entered.
struct EngineCall {
    int calls = 0;
    platform::HINSTANCE instance = nullptr;
    platform::HINSTANCE previous = nullptr;
    std::u16string commandLine;
    int show = 0;
    platform::HMODULE launcherModule = nullptr;
    platform::HMODULE engineModule = nullptr;
    int loadsDuringCall = 0;
    size_t logSizeAtEntry = 0;
    const char16_t* line = nullptr;   // the engine keeps it for the process, which ends with Run
};

EngineCall g_call;
int32_t g_result = 0;

// An entry routine of the contract's type, as an engine exports it.
int32_t TestKelMainW(void* instance, void* previous, const char16_t* commandLine, int show, void* launcherModule,
                     void* engineModule) {
    ++g_call.calls;
    g_call.instance = static_cast<platform::HINSTANCE>(instance);
    g_call.previous = static_cast<platform::HINSTANCE>(previous);
    g_call.commandLine = commandLine;
    g_call.line = commandLine;
    g_call.show = show;
    g_call.launcherModule = static_cast<platform::HMODULE>(launcherModule);
    g_call.engineModule = static_cast<platform::HMODULE>(engineModule);
    g_call.loadsDuringCall = sim::LoadCount(g_call.engineModule);
    g_call.logSizeAtEntry = sim::CallLog().size();
    return g_result;
}

platform::HMODULE InstallEngine(const std::u16string& path, bool withEntry = true) {
    sim::Library library;
    library.path = path;
    if (withEntry) library.exports["KelMainW"] = reinterpret_cast<platform::FARPROC>(&TestKelMainW);
    return sim::InstallLibrary(library);
}

auto* const kInstance = reinterpret_cast<platform::HINSTANCE>(static_cast<uintptr_t>(0x1000));
auto* const kPrevious = reinterpret_cast<platform::HINSTANCE>(static_cast<uintptr_t>(0x2000));

class LaunchTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        g_call = EngineCall();
        g_result = 0;
    }
    int Run(const char16_t* commandLine) {
        g_call.line = nullptr;
        int result = launcher::Launch(kInstance, kPrevious, commandLine, 5);
        std::free(const_cast<char16_t*>(g_call.line));
        return result;
    }
};

TEST_F(LaunchTest, EngineFoundByNameGetsSixArgumentsAndGivesTheExitCode) {
    platform::HMODULE engine = InstallEngine(u"\\Windows\\Kel.dll");
    g_result = 7;
    EXPECT_EQ(Run(u"app.Main -x"), 7);
    ASSERT_EQ(g_call.calls, 1);
    EXPECT_EQ(g_call.instance, kInstance);
    EXPECT_EQ(g_call.previous, kPrevious);
    EXPECT_EQ(g_call.commandLine, u"app.Main -x");
    EXPECT_EQ(g_call.show, 5);
    EXPECT_EQ(g_call.launcherModule, sim::LauncherModule());
    EXPECT_EQ(g_call.engineModule, engine);
    // Loaded during the call, unloaded right after it.
    EXPECT_EQ(g_call.loadsDuringCall, 1);
    EXPECT_EQ(sim::LoadCount(engine), 0);
    std::vector<std::string> log = sim::CallLog();
    ASSERT_GT(log.size(), g_call.logSizeAtEntry);
    EXPECT_EQ(log.back(), "FreeLibrary(module:\\Windows\\Kel.dll)");
    // Found by name: the registered path is never read.
    EXPECT_EQ(sim::CallCount("RegOpenKeyExW"), 0);
    EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(LaunchTest, EngineFoundThroughTheRegisteredPath) {
    for (const std::u16string stored : {u"\"\\Storage Card\\Kel.dll\"", u"\\Storage Card\\Kel.dll"}) {
        SetUp();
        platform::HMODULE engine = InstallEngine(u"\\Storage Card\\Kel.dll");
        sim::SetRegistryString(HKEY_CLASSES_ROOT, u"KelFile10\\DLL", u"", stored);
        g_result = 3;
        EXPECT_EQ(Run(u"x"), 3) << testsupport::U8(stored);
        EXPECT_EQ(g_call.engineModule, engine);
        EXPECT_EQ(sim::CallCount("LoadLibraryW(\"\\Storage Card\\Kel.dll\")"), 1);
        EXPECT_EQ(sim::OpenKeyCount(), 0) << "the key is closed after reading";
    }
}

TEST_F(LaunchTest, RegisteredPathIsReadWholeAndTerminatedWhateverItsBytes) {
    // A path of 259 characters, the longest the device loads: longer than any fixed 255-byte read.
    std::u16string longPath = u"\\" + std::u16string(250, u'd') + u"\\Kel.dll";
    ASSERT_EQ(longPath.size(), 259u);
    InstallEngine(longPath);
    sim::SetRegistryString(HKEY_CLASSES_ROOT, u"KelFile10\\DLL", u"", longPath);
    EXPECT_EQ(Run(u"x"), 0);
    EXPECT_EQ(g_call.calls, 1);

    // One of 300 is asked for whole, and the device loads no such path.
    SetUp();
    std::u16string tooLong = u"\\" + std::u16string(290, u'd') + u"\\Kel.dll";
    InstallEngine(tooLong);
    sim::SetRegistryString(HKEY_CLASSES_ROOT, u"KelFile10\\DLL", u"", tooLong);
    EXPECT_EQ(Run(u"x"), 0);
    EXPECT_EQ(g_call.calls, 0);
    EXPECT_EQ(sim::CallCount("LoadLibraryW(\"" + testsupport::U8(tooLong) + "\")"), 1);
    EXPECT_EQ(sim::MessageBoxes().size(), 1u);

    // No terminator and an odd byte count: the odd byte is dropped, the text still ends.
    SetUp();
    InstallEngine(u"\\e\\Kel.dll");
    std::u16string bare = u"\\e\\Kel.dll";
    std::string bytes(reinterpret_cast<const char*>(bare.data()), bare.size() * 2);
    sim::SetRegistryValue(HKEY_CLASSES_ROOT, u"KelFile10\\DLL", u"", platform::REG_BINARY, bytes + "\x01");
    Run(u"x");
    EXPECT_EQ(g_call.calls, 1);

    // A value longer than any loadable path is not taken at all.
    SetUp();
    std::u16string overlong = u"\\" + std::u16string(32768, u'd') + u"\\Kel.dll";
    InstallEngine(overlong);
    sim::SetRegistryString(HKEY_CLASSES_ROOT, u"KelFile10\\DLL", u"", overlong);
    EXPECT_EQ(Run(u"x"), 0);
    EXPECT_EQ(g_call.calls, 0);
    EXPECT_EQ(sim::CallCount("LoadLibraryW"), 1) << "the bare name only";
    EXPECT_EQ(sim::MessageBoxes().size(), 1u);

    // A lone quote gives an empty path, not a read past the value.
    SetUp();
    sim::SetRegistryValue(HKEY_CLASSES_ROOT, u"KelFile10\\DLL", u"", platform::REG_SZ, std::string("\"\0", 2));
    EXPECT_EQ(Run(u"x"), 0);
    EXPECT_EQ(sim::CallCount("LoadLibraryW"), 2) << "the bare name, then the empty path";
    EXPECT_EQ(sim::MessageBoxes().size(), 1u);
}

TEST_F(LaunchTest, NoEngineShowsOneMessageBoxAndExitsZero) {
    EXPECT_EQ(Run(u"x"), 0);
    std::vector<sim::MessageBox> boxes = sim::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"Could not find DLL: Kel.DLL");
    EXPECT_EQ(boxes[0].caption, u"Error Loading DLL");
    EXPECT_EQ(boxes[0].type, 0u);
    EXPECT_EQ(boxes[0].owner, nullptr);

    // A registered path that does not load ends the same way.
    SetUp();
    sim::SetRegistryString(HKEY_CLASSES_ROOT, u"KelFile10\\DLL", u"", u"\\nowhere\\Kel.dll");
    EXPECT_EQ(Run(u"x"), 0);
    EXPECT_EQ(sim::MessageBoxes().size(), 1u);
}

TEST_F(LaunchTest, MissingEntryRoutineShowsItsMessageAndKeepsTheLibrary) {
    platform::HMODULE engine = InstallEngine(u"\\Windows\\Kel.dll", false);
    EXPECT_EQ(Run(u"x"), 0);
    std::vector<sim::MessageBox> boxes = sim::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"Could not find DLL entry routine \"KelMainW\"");
    EXPECT_EQ(boxes[0].text.size(), 43u);
    EXPECT_EQ(boxes[0].caption, u"Error Starting DLL");
    EXPECT_EQ(boxes[0].type, 0u);
    EXPECT_EQ(sim::CallCount("FreeLibrary"), 0);
    EXPECT_EQ(sim::LoadCount(engine), 1);
}

TEST_F(LaunchTest, TraceMarksTheThreePointsInOrder) {
    InstallEngine(u"\\Windows\\Kel.dll");
    Run(u"");
    std::vector<std::u16string> traces = sim::Traces();
    std::vector<std::u16string> expected = {u"Registering Kel Info", u"Going to load Kel.dll",
                                            u"Now running KelMainW() in dll"};
    EXPECT_EQ(traces, expected);
}

TEST_F(LaunchTest, LonePlusRegistersAndExitsWithoutTheEngine) {
    for (const char16_t* line : {u"+", u"+   "}) {
        SetUp();
        InstallEngine(u"\\Windows\\Kel.dll");
        g_result = 9;
        EXPECT_EQ(Run(line), 0);
        EXPECT_EQ(g_call.calls, 0);
        EXPECT_EQ(sim::CallCount("LoadLibraryW"), 0);
        EXPECT_TRUE(sim::GetRegistryString(HKEY_CLASSES_ROOT, u".kel", u"").has_value());
    }
}

TEST_F(LaunchTest, BlankLineRegistersAndStillStarts) {
    for (const char16_t* line : {u"", u"   ", u"\t"}) {
        SetUp();
        InstallEngine(u"\\Windows\\Kel.dll");
        g_result = 4;
        EXPECT_EQ(Run(line), 4);
        EXPECT_EQ(g_call.commandLine, line);
        EXPECT_TRUE(sim::GetRegistryString(HKEY_CLASSES_ROOT, u".kel", u"").has_value());
    }
}

TEST_F(LaunchTest, OtherPlusLinesAreOrdinaryCommandLines) {
    for (const char16_t* line : {u"+x", u"+\t", u" +", u"+ x"}) {
        SetUp();
        InstallEngine(u"\\Windows\\Kel.dll");
        g_result = 2;
        EXPECT_EQ(Run(line), 2) << testsupport::U8(line);
        EXPECT_EQ(g_call.commandLine, line);
        EXPECT_FALSE(sim::RegistryKeyExists(HKEY_CLASSES_ROOT, u".kel")) << testsupport::U8(line);
    }
}

}  // namespace
