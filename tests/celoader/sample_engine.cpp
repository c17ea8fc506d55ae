// The device sample engine (bin/Kel.dll) in a packed copy, on the device
// alone, held to the facts the desktop pair shows under Wine.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "coredll.h"
#include "harness.h"
#include "sim.h"
#include "text_helpers.h"

// The harness's own side of a loopback relay; after the platform header,
// whose names these headers make macros of.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace celoader {

int SecondStart(const std::string& program, const char16_t* line) {
    std::string error;
    int code = RunProgram(program, line, 1, &error);
    if (code == -1 && !error.empty()) std::fprintf(stderr, "celoader: second start: %s\n", error.c_str());
    return code;
}

namespace {


// The device sample engine (bin/Kel.dll) in a packed copy, on the device
// alone: its window, splash and listener are its own ARM code, which the
// host build has no counterpart of here, so each run is held to the facts
// the desktop pair shows under Wine for the same conversation
// (tests/e2e/test_sample_engine.py): the window of the target name's class,
// the splash gone once the engine is up, ServerPort a REG_DWORD naming the
// listener, the relayed lines acted on, the exit code `quit N` gives, and the
// port withdrawn at the end. A scenario's harness plays the other side from a
// thread of its own while the program runs. Second starts are the same
// device program again, a process of its own beside the first.
enum class Pair {
    kAlone,              // the harness relays to the engine itself
    kHandoffThenRelay,   // a second start hands over; another relays quit 7
    kListenerGone,       // ServerPort names no listener: a second start's relay is refused
};

struct EngineScenario {
    const char* name;
    const char* copy;
    const char16_t* commandLine;
    const char16_t* className;         // the target name the launcher derives from the line
    bool activate;                     // a second start's message 1038, posted to the engine's window
    std::vector<std::string> relay;    // lines sent to ServerPort, one connection each
    Transcript expected;
    Pair pair = Pair::kAlone;
};

const EngineScenario kEngineScenarios[] = {
    {"sample engine: up, splash dismissed, quit 7 relayed", "full.exe", u"doc.kel", u"app_Main", false, {"quit 7"},
     {"engine window app_Main \"Kel sample engine\"", "splash destroyed by its own thread, which ended",
      "ServerPort REG_DWORD 4 bytes", "relayed [quit 7]", "exit 7", "ServerPort afterwards 0",
      "edit text [(no application package)]", "sockets open 0"}},
    {"sample engine: activation, a shown line, then quit 3", "line.exe", u"doc.kel", u"app_Main", true,
     {"hello there", "quit 3"},
     {"engine window app_Main \"Kel sample engine\"", "no splash", "ServerPort REG_DWORD 4 bytes",
      "activation brought the engine's window forward", "relayed [hello there]", "relayed [quit 3]", "exit 3",
      "ServerPort afterwards 0", "edit text [(no application package)\\r\\n> hello there]", "sockets open 0"}},
    {"sample engine: a second start hands over, another relays quit 7", "full.exe", u"doc.kel", u"app_Main", false,
     {},
     {"engine window app_Main \"Kel sample engine\"", "splash destroyed by its own thread, which ended",
      "ServerPort REG_DWORD 4 bytes", "second start \"doc.kel\": exit 0, the engine's window forward",
      "second start \"-+ -acommand \"quit 7\" --\": exit 0", "exit 7", "ServerPort afterwards 0",
      "edit text [(no application package)]", "sockets open 0"},
     Pair::kHandoffThenRelay},
    // What a start does when its relay is refused: it goes on, and becomes
    // an engine of its own, beside the first, which it leaves alone.
    {"sample engine: listener gone, a second start's relay refused", "full.exe", u"doc.kel", u"app_Main", false,
     {"quit 7"},
     {"engine window app_Main \"Kel sample engine\"", "splash destroyed by its own thread, which ended",
      "ServerPort REG_DWORD 4 bytes", "ServerPort set to a port nothing listens on",
      "second start \"-+ -acommand \"quit 7\" --\": relay refused, its own engine's window StartKel in a process of "
      "its own, its splash destroyed by its own thread, a new ServerPort",
      "the first's window alive", "third start \"-+ -acommand \"quit 5\" --\": exit 0", "second start: exit 5",
      "ServerPort after the second's end 0", "ServerPort set back to the first's", "relayed [quit 7]", "exit 7",
      "ServerPort afterwards 0", "edit text [(no application package)]", "sockets open 0"},
     Pair::kListenerGone},
};

// A connection to the loopback port, one line sent; false when refused.
bool RelayLine(uint32_t port, const std::string& line) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port & 0xFFFF));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string bytes = line + "\n";
    bool sent = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    return sent;
}

std::optional<uint32_t> ServerPort(std::string* shape) {
    auto value = sim::GetRegistryValue(platform::HKEY_LOCAL_MACHINE, u"Software\\Norvane\\KelVM", u"ServerPort");
    if (!value) return std::nullopt;
    if (shape != nullptr) {
        *shape = "ServerPort " + std::string(value->type == platform::REG_DWORD ? "REG_DWORD" : "of type " +
                                             std::to_string(value->type)) + " " + std::to_string(value->bytes.size()) + " bytes";
    }
    if (value->bytes.size() != 4) return std::nullopt;
    uint32_t port;
    std::memcpy(&port, value->bytes.data(), 4);
    return port;
}

// The first window made, alive or not, that the condition holds for.
template <typename F>
platform::HWND FirstWindow(F condition) {
    for (platform::HWND w : sim::CreatedWindows()) {
        auto info = sim::GetWindowInfo(w);
        if (info && condition(*info)) return w;
    }
    return nullptr;
}

// The first window of a class with that parent, of any process but `except`.
platform::HWND WindowOf(const std::u16string& className, platform::HWND parent,
                        std::optional<platform::DWORD> except = std::nullopt) {
    return FirstWindow([&](const sim::WindowInfo& info) {
        return info.className == className && info.parent == parent && info.processId != except;
    });
}

// The engine's listener gone, as after it failed: ServerPort names a port
// nothing listens on. A second start's relay is then refused, and it starts
// an engine of its own in a process of its own, leaving the first alone; a
// third start's relay ends that one. Then the first's port is written back
// for the harness's own relay to reach the first.
void SecondEngine(const Folders& f, const EngineScenario& s, platform::HWND firstWindow, Transcript* facts) {
    const std::string copy = f.copies + "/" + s.copy;
    const platform::DWORD firstProcess = sim::GetWindowInfo(firstWindow)->processId;
    const uint32_t firstPort = ServerPort(nullptr).value_or(0);
    const uint32_t stale = sim::UnusedPort();
    WriteServerPort(stale);
    facts->push_back("ServerPort set to a port nothing listens on");
    const char16_t* refused = u"-+ -acommand \"quit 7\" --";
    std::atomic<int> secondCode{-1};
    std::atomic<bool> secondDone{false};
    std::thread second([&] {
        secondCode = SecondStart(copy, refused);
        secondDone = true;
    });
    // Its engine's window: the line names no target once it relays, so its
    // class is the engine's default, not the first's.
    platform::HWND window = nullptr;
    bool up = Within(20, [&] {
        window = FirstWindow([&](const sim::WindowInfo& info) {
            return info.alive && info.parent == nullptr && info.processId != firstProcess &&
                   info.className != u"KEL_SPLASH";
        });
        auto port = ServerPort(nullptr);
        return window != nullptr && port && *port != 0 && *port != stale;
    });
    std::string fact = "second start \"" + testsupport::U8(refused) + "\": ";
    if (!up) {
        fact += secondDone ? "exit " + std::to_string(secondCode) : "no engine of its own within 20 s";
    } else {
        auto info = *sim::GetWindowInfo(window);
        platform::HWND splash = WindowOf(u"KEL_SPLASH", nullptr, firstProcess);
        bool splashGone = splash != nullptr && Within(5, [&] { return !sim::GetWindowInfo(splash)->alive; }) &&
                          sim::WaitForThreadEnd(sim::GetWindowInfo(splash)->threadId, 5000).has_value();
        fact += "relay refused, its own engine's window " + testsupport::U8(info.className) +
                (info.processId != firstProcess ? " in a process of its own" : " in the first's process") +
                (splashGone ? ", its splash destroyed by its own thread" : ", its splash not seen to go") +
                ", a new ServerPort";
    }
    facts->push_back(fact);
    facts->push_back(sim::GetWindowInfo(firstWindow)->alive ? "the first's window alive" : "the first's window gone");
    if (up) {
        const char16_t* quit = u"-+ -acommand \"quit 5\" --";
        int code = SecondStart(copy, quit);
        facts->push_back("third start \"" + testsupport::U8(quit) + "\": exit " + std::to_string(code));
        // Whatever happened, the second ends: WM_QUIT to its engine when no relay ended it.
        if (!Within(10, [&] { return secondDone.load(); })) {
            facts->push_back("second start ended by the harness");
            sim::PostThreadMessage(sim::GetWindowInfo(window)->threadId, platform::WM_QUIT);
        }
    }
    second.join();
    facts->push_back("second start: exit " + std::to_string(secondCode));
    auto port = ServerPort(nullptr);
    facts->push_back("ServerPort after the second's end " + (port ? std::to_string(*port) : std::string("missing")));
    WriteServerPort(firstPort);
    facts->push_back("ServerPort set back to the first's");
}

// The other side of the conversation, while the program runs: waits for the
// engine to be up, then posts and relays what the scenario asks. Whatever
// happens the engine is ended: when no relayed quit ends it, WM_QUIT to its thread does.
void PlayOtherSide(const Folders& f, const EngineScenario& s, Transcript* facts) {
    platform::HWND window = nullptr;
    std::string shape = "no ServerPort";
    bool up = Within(20, [&] {
        window = WindowOf(s.className, nullptr);
        auto port = ServerPort(&shape);
        auto splash = WindowOf(u"KEL_SPLASH", nullptr);
        return window != nullptr && port && *port != 0 && (splash == nullptr || !sim::GetWindowInfo(splash)->alive);
    });
    if (window == nullptr) {
        std::fprintf(stderr, "celoader: %s: no engine window of class %s within 20 s\n", s.name,
                     testsupport::U8(s.className).c_str());
        std::fflush(nullptr);
        std::_Exit(1);
    }
    auto info = *sim::GetWindowInfo(window);
    facts->push_back("engine window " + testsupport::U8(info.className) + " \"" + testsupport::U8(info.title) + "\"");
    if (platform::HWND splash = WindowOf(u"KEL_SPLASH", nullptr)) {
        auto splashInfo = *sim::GetWindowInfo(splash);
        auto ended = sim::WaitForThreadEnd(splashInfo.threadId, 5000);
        facts->push_back(!splashInfo.alive && ended ? "splash destroyed by its own thread, which ended"
                                                    : std::string("splash still up") + (up ? "" : " (timed out)"));
    } else {
        facts->push_back("no splash");
    }
    facts->push_back(shape);
    if (s.activate) {
        platform::PostMessageW(window, 0x040E, 0, 0);
        bool forward = Within(5, [&] { return sim::ForegroundWindow() == window; });
        facts->push_back(forward ? "activation brought the engine's window forward" : "activation left the window behind");
    }
    bool quit = false;
    const std::string copy = f.copies + "/" + s.copy;
    if (s.pair == Pair::kHandoffThenRelay) {
        // A handoff: the second start finds the engine's window, brings it forward and ends.
        int code = SecondStart(copy, s.commandLine);
        bool forward = Within(5, [&] { return sim::ForegroundWindow() == window; });
        facts->push_back("second start \"" + testsupport::U8(s.commandLine) + "\": exit " + std::to_string(code) +
                         (forward ? ", the engine's window forward" : ", the engine's window behind"));
        // A relay: the launcher's own relay reaches the engine's listener.
        // The copy carries a line: the user's options go in its prefix section.
        const char16_t* relay = u"-+ -acommand \"quit 7\" --";
        code = SecondStart(copy, relay);
        facts->push_back("second start \"" + testsupport::U8(relay) + "\": exit " + std::to_string(code));
        quit = Within(5, [&] { return !sim::GetWindowInfo(window)->alive; });
    }
    if (s.pair == Pair::kListenerGone) SecondEngine(f, s, window, facts);
    for (const std::string& line : s.relay) {
        auto port = ServerPort(nullptr);
        bool sent = port && RelayLine(*port, line);
        facts->push_back((sent ? "relayed [" : "relay refused [") + line + "]");
        quit = quit || (sent && line.rfind("quit", 0) == 0);
    }
    if (!quit) {
        facts->push_back("ended by the harness");
        sim::PostThreadMessage(info.threadId, platform::WM_QUIT);
    }
}

// One run of the sample engine scenario; its facts, then (show) the whole transcript.
Transcript RunSample(const Folders& f, const EngineScenario& s, Transcript* all) {
    sim::Reset();
    Context c{f};
    c.device = true;
    sim::SetScreenSize(c.screenWidth, c.screenHeight);
    SetDeviceLibrary(u"\\Windows\\Kel.dll", f.engine);
    Transcript facts;
    std::thread other(PlayOtherSide, std::cref(f), std::cref(s), &facts);
    std::string error;
    int code = RunProgram(f.copies + "/" + s.copy, s.commandLine, 1, &error);
    other.join();
    if (code == -1 && !error.empty()) facts.push_back("not run: " + error);
    facts.push_back("exit " + std::to_string(code));
    auto port = ServerPort(nullptr);
    facts.push_back("ServerPort afterwards " + (port ? std::to_string(*port) : std::string("missing")));
    platform::HWND window = WindowOf(s.className, nullptr);
    platform::HWND edit = window != nullptr ? WindowOf(u"EDIT", window) : nullptr;
    std::string text = edit != nullptr ? testsupport::U8(sim::GetWindowInfo(edit)->title) : "no edit control";
    for (size_t at = 0; (at = text.find_first_of("\r\n", at)) != std::string::npos; at += 2) {
        text.replace(at, 1, text[at] == '\r' ? "\\r" : "\\n");
    }
    facts.push_back("edit text [" + text + "]");
    *all = Collect(c, code, nullptr);
    facts.push_back("sockets open " + std::to_string(sim::OpenSocketCount()));
    sim::Reset();
    UnmapAll();
    return facts;
}

// The planted fault on the engine's side: the port the engine publishes,
// its two bytes swapped (a sin_port stored without ntohs), in the loader's
// thunk of RegSetValueExW, where the engine hands the DWORD over.
const Fault kEngineFault = {"ServerPort written in network byte order", "RegSetValueExW", [](uint32_t* w) {
                                auto* data = reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(w[4]));
                                if (w[3] == platform::REG_DWORD && w[5] == 4 && data != nullptr && *data != 0) {
                                    *data = __builtin_bswap16(static_cast<uint16_t>(*data));
                                }
                            }};

// Runs a sample engine scenario with a fault planted (plant, in a process
// of its own) and prints whether its facts then differ from the desktop
// pair's, and where; true when they do.
bool SampleFaultCaught(const Folders& f, const char* fault, const EngineScenario& s, void (*plant)()) {
    Transcript planted = InChild([&] {
        plant();
        Transcript all;
        return RunSample(f, s, &all);
    });
    if (planted == s.expected) {
        std::printf("UNNOTICED  %s in %s\n", fault, s.name);
        return false;
    }
    size_t line = 0;
    while (line < planted.size() && line < s.expected.size() && planted[line] == s.expected[line]) ++line;
    std::printf("caught     %s -> %s: %s\n", fault, s.name, line < planted.size() ? planted[line].c_str() : "<none>");
    for (size_t i = 0; i < planted.size() || i < s.expected.size(); ++i) {
        const std::string& want = i < s.expected.size() ? s.expected[i] : "<none>";
        const std::string& got = i < planted.size() ? planted[i] : "<none>";
        if (want != got) std::printf("  desktop: %s\n  device:  %s\n", want.c_str(), got.c_str());
    }
    return true;
}

}  // namespace

int RunSampleEngine(const Folders& folders, bool show) {
    int differing = 0;
    for (const EngineScenario& s : kEngineScenarios) {
        Transcript all;
        Transcript facts = RunSample(folders, s, &all);
        bool same = facts == s.expected;
        differing += !same;
        std::printf("%s: %s (%s, %zu facts)\n", same ? "as on the desktop" : "DIFFERENT", s.name, s.copy, facts.size());
        for (size_t i = 0; i < facts.size() || i < s.expected.size(); ++i) {
            const std::string none = "<none>";
            const std::string& want = i < s.expected.size() ? s.expected[i] : none;
            const std::string& got = i < facts.size() ? facts[i] : none;
            if (want != got) std::printf("  desktop: %s\n  device:  %s\n", want.c_str(), got.c_str());
            else if (show) std::printf("  %s\n", got.c_str());
        }
        if (show) {
            for (const std::string& line : all) std::printf("    | %s\n", line.c_str());
        }
        std::fflush(stdout);
    }
    std::printf("%d of %zu sample engine scenarios differ from the desktop pair's facts\n", differing,
                sizeof kEngineScenarios / sizeof kEngineScenarios[0]);
    if (differing != 0) return 1;
    // The fault, in a process of its own, must make every scenario differ
    // whose harness relays to the port the engine published. (In the pair
    // scenarios a start whose relay the fault makes refused goes on to run
    // an engine of its own that nothing there ends: they are left out.)
    int unnoticed = 0;
    for (const EngineScenario& s : kEngineScenarios) {
        if (s.pair != Pair::kAlone) continue;
        unnoticed += !SampleFaultCaught(folders, kEngineFault.name, s, [] { PlantFault(&kEngineFault); });
    }
    // A second program must read its own process id where the device keeps
    // it: with one id for all, the second's engine takes its own splash for
    // another process's and leaves it up.
    for (const EngineScenario& s : kEngineScenarios) {
        if (s.pair != Pair::kListenerGone) continue;
        unnoticed += !SampleFaultCaught(folders, "one process id for all programs", s, [] { SetKernelPageShared(true); });
    }
    return unnoticed == 0 ? 0 : 1;
}

}  // namespace celoader
