// The device kel.exe, its own ARM code, through the launcher's scenarios on
// the simulation, each run beside the host build of the same launcher on the
// same simulation; their transcripts must agree line for line.
//
//   celoader WINCE_BUILD [--align-wide-arguments] [--show] [--engine DLL]
//
// WINCE_BUILD is the wince-arm build folder: its bin/kel.exe runs, and its
// celoader/Kel.dll (or DLL) is the engine the device launcher loads. --show
// prints every transcript. Exit: 0 all agree, 1 a difference, 2 a run could
// not start, 3 the device code called for something the loader lacks.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "ce_image.h"
#include "coredll.h"
#include "cmdline/relay.h"
#include "launcher/launcher.h"
#include "sim.h"
#include "text_helpers.h"

namespace {

using Transcript = std::vector<std::string>;

bool g_device = false;
std::string g_build;
std::string g_engine;   // the device engine library
platform::HWND g_running = nullptr;   // the other instance's window in the handoff

const char16_t kEnginePrefix[] = u"engine ";

void Record(const std::string& line) { platform::OutputDebugStringW(testsupport::U16("engine " + line).c_str()); }

// The host side's engine: records what record_engine.c records, the same way.
int32_t HostEngine(void* instance, void* previous, const char16_t* line, int show, void* launcher, void*) {
    std::u16string text = line;
    uint64_t check = 14695981039346656037ULL;
    std::string hex;
    char unit[8];
    for (char16_t c : text) {
        std::snprintf(unit, sizeof unit, "%04x", static_cast<unsigned>(c));
        hex += unit;
        check = (check ^ c) * 1099511628211ULL;
    }
    Record("command_line_units=" + std::to_string(text.size()));
    Record("command_line=" + hex);
    char checkText[32];
    std::snprintf(checkText, sizeof checkText, "%llx", static_cast<unsigned long long>(check));
    Record("command_line_check=" + std::to_string(text.size()) + ":" + checkText);
    Record("show=" + std::to_string(show) + " previous=" + std::to_string(reinterpret_cast<uintptr_t>(previous)) +
           " instance_is_launcher=" + std::to_string(instance == launcher) + " process=" + std::to_string(getpid()));
    return static_cast<int32_t>(text.size());
}

// The engine library beside the launcher: the device's own for the device run.
void Engine() {
    if (g_device) {
        celoader::SetDeviceLibrary(u"\\Windows\\Kel.dll", g_engine);
    } else {
        sim::InstallLibrary({u"\\Windows\\Kel.dll", {{"KelMainW", reinterpret_cast<platform::FARPROC>(&HostEngine)}}});
    }
}

void Package(const std::string& line) { sim::SetResource(u"Text", u"CommandLine", line); }

// The listener's port differs from run to run; transcripts name it PORT.
std::string g_port;
bool g_listening = false;
std::string Ported(std::string line) {
    size_t at = g_port.empty() ? std::string::npos : line.find(":" + g_port);
    return at == std::string::npos ? line : line.replace(at + 1, g_port.size(), "PORT");
}

void SetPort(uint32_t port) {
    g_port = std::to_string(port & 0xFFFF);
    sim::SetRegistryValue(platform::HKEY_LOCAL_MACHINE, u"Software\\Norvane\\KelVM", u"ServerPort",
                          platform::REG_DWORD, std::string(reinterpret_cast<const char*>(&port), 4));
}

void Splash(const std::string& config, int size, uint16_t bitCount = 24) {
    sim::SetScreenSize(240, 320);
    testsupport::BmpFile file;
    file.width = size;
    file.height = size;
    file.bitCount = bitCount;
    if (bitCount == 24) {
        file.pixel = [](int x, int y) { return static_cast<uint32_t>((x * 7) << 16 | (y * 5) << 8 | (x ^ y)); };
    } else {
        int colours = 1 << bitCount;
        for (int i = 0; i < colours; ++i) {
            file.palette.push_back({static_cast<uint8_t>(i * 3), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 7), 0});
        }
        file.pixel = [colours](int x, int y) { return static_cast<uint32_t>((x + 3 * y) % colours); };
    }
    if (!config.empty()) sim::SetResource(u"Text", u"CONFIG", config);
    sim::SetResource(u"SplashScreen", u"Splash.bmp", testsupport::BmpBytes(file));
}

// The device engine's preferred base taken by other memory, so that the
// loader must map it elsewhere and relocate it; given back after the run.
void* g_taken = nullptr;
void EngineAwayFromItsBase() {
    Engine();
    if (!g_device) return;
    void* base = reinterpret_cast<void*>(static_cast<uintptr_t>(celoader::PreferredBase(g_engine)));
    g_taken = mmap(base, 0x10000, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (g_taken != base) std::fprintf(stderr, "celoader: the engine's base could not be taken\n"), std::exit(2);
}

// An engine library under a registered path.
void RegisteredEngine(const std::u16string& stored, const std::u16string& path) {
    sim::SetRegistryValue(platform::HKEY_CLASSES_ROOT, u"KelFile10\\DLL", u"", platform::REG_SZ,
                          std::string(reinterpret_cast<const char*>(stored.c_str()), (stored.size() + 1) * 2));
    if (g_device) {
        celoader::SetDeviceLibrary(path, g_engine);
    } else {
        sim::InstallLibrary({path, {{"KelMainW", reinterpret_cast<platform::FARPROC>(&HostEngine)}}});
    }
}

// ---------------------------------------------------------------- what a scenario reads back beyond the common lines

void Registration(Transcript* t) {
    for (const char16_t* key : {u"KelFile10", u"KelFile10\\Shell\\Open\\Command", u"KelFile10\\DefaultIcon",
                                u"KelFile10\\DLL", u".kel"}) {
        auto value = sim::GetRegistryValue(platform::HKEY_CLASSES_ROOT, key, u"");
        std::string bytes;
        if (value) {
            for (unsigned char c : value->bytes) bytes += "0123456789abcdef"[c >> 4], bytes += "0123456789abcdef"[c & 15];
        }
        t->push_back("HKCR\\" + testsupport::U8(key) + " = " +
                     (value ? std::to_string(value->type) + ":" + bytes : std::string("missing")));
    }
    t->push_back("open keys " + std::to_string(sim::OpenKeyCount()));
}

void Handoff(Transcript* t) {
    t->push_back(std::string("foreground is the running instance: ") + (sim::ForegroundWindow() == g_running ? "yes" : "no"));
    for (const auto& m : sim::PostedMessages(g_running)) {
        t->push_back("posted " + std::to_string(m.message) + " " + std::to_string(m.wParam) + " " + std::to_string(m.lParam));
    }
}

void Relayed(Transcript* t) {
    // Only a listener is waited for: without one there is nothing to receive.
    for (std::string bytes : sim::Received(g_listening ? 1 : 0)) {
        for (size_t at = 0; (at = bytes.find('\n', at)) != std::string::npos;) bytes.replace(at, 1, "\\n");
        t->push_back("received [" + bytes + "]");
    }
    t->push_back("sockets open " + std::to_string(sim::OpenSocketCount()));
    for (const auto& l : sim::LingerSettings()) {
        t->push_back("linger " + std::to_string(l.l_onoff) + " " + std::to_string(l.l_linger));
    }
}

void Screen(Transcript* t) {
    uint64_t hash = 14695981039346656037ULL;
    for (int y = 0; y < 320; ++y) {
        for (int x = 0; x < 240; ++x) hash = (hash ^ sim::ScreenPixel(x, y)) * 1099511628211ULL;
    }
    char line[96];
    std::snprintf(line, sizeof line, "screen %llx centre %06x corner %06x", static_cast<unsigned long long>(hash),
                  sim::ScreenPixel(120, 160), sim::ScreenPixel(0, 0));
    t->push_back(line);
    // The engine is entered only once the splash was painted.
    auto log = sim::CallLog();
    auto signal = std::find(log.begin(), log.end(), "EventModify(event, 3)");
    auto load = std::find(log.begin(), log.end(), "LoadLibraryW(\"Kel.dll\")");
    t->push_back(std::string("engine loaded after the first paint: ") + (signal < load ? "yes" : "no"));
    for (platform::HWND w : sim::CreatedWindows()) {
        auto info = sim::GetWindowInfo(w);
        t->push_back("window " + testsupport::U8(info->className) + " \"" + testsupport::U8(info->title) + "\" " +
                     std::to_string(info->x) + "," + std::to_string(info->y) + " " + std::to_string(info->width) +
                     "x" + std::to_string(info->height) + " painted " + std::to_string(info->paints > 0));
    }
}

struct Scenario {
    const char* name;
    const char16_t* commandLine;
    void (*seed)();
    void (*inspect)(Transcript*);
};

const Scenario kScenarios[] = {
    {"merge", u"-+ -h 5 -- doc.kel", [] { Package("app.Main"); Engine(); }, nullptr},
    {"user line unchanged", u"  \"\\My Documents\\Game.kel\"  ", [] { Engine(); }, nullptr},
    {"beyond ASCII and tabs", u"-+ \"caf\u00e9\"\t-- \u4e2d\u6587.kel", [] { Package("app.Main\tx"); Engine(); },
     nullptr},
    {"engine mapped away from its base", u"-+ -h 5 -- doc.kel", [] { Package("app.Main"); EngineAwayFromItsBase(); },
     nullptr},
    {"missing engine", u"Game.kel", [] {}, nullptr},
    {"missing entry", u"Game.kel", [] { sim::InstallLibrary({u"\\Windows\\Kel.dll", {}}); }, nullptr},
    {"registered engine path", u"Game.kel",
     [] { RegisteredEngine(u"\"\\Storage Card\\Kel.dll\"", u"\\Storage Card\\Kel.dll"); }, nullptr},
    {"registered path of 300 characters", u"x",
     [] {
         std::u16string path = u"\\" + std::u16string(290, u'd') + u"\\Kel.dll";
         RegisteredEngine(path, path);
     },
     nullptr},
    {"registered path longer than any", u"x",
     [] {
         std::u16string path = u"\\" + std::u16string(32768, u'd') + u"\\Kel.dll";
         RegisteredEngine(path, path);
     },
     nullptr},
    {"package unloadable", u"x", [] { Package("app.Main"); sim::Fail("LoadResource"); Engine(); }, nullptr},
    {"plus with more is an ordinary line", u"+ x", [] { Engine(); }, Registration},
    {"registration by lone plus", u"+", [] { sim::SetLauncherPath(u"\\Windows\\Start.exe"); }, Registration},
    {"registration on blank line", u"  ", [] { sim::SetLauncherPath(u"\\Program Files\\G\\G.exe"); Engine(); },
     Registration},
    {"handoff", u"doc.kel", [] { Package("app.Main"); g_running = sim::AddForeignWindow(u"app_Main"); Engine(); },
     Handoff},
    {"relay", u"-+ -acommand \"go home\" --", [] {
         Package("app.Main");
         SetPort(sim::Listen());
         g_listening = true;
         Engine();
     }, Relayed},
    {"relay refused", u" -acommand \"go home\" ", [] { SetPort(sim::UnusedPort()); Engine(); }, Relayed},
    {"relay of a short send, port in the low 16 bits", u"-acommand \"go home\"",
     [] {
         SetPort(0x50000u | sim::Listen());
         g_listening = true;
         sim::LimitSend(3);
         Engine();
     },
     Relayed},
    {"relay without a socket layer", u"-acommand x",
     [] {
         SetPort(sim::UnusedPort());
         sim::Fail("WSAStartup");
         Engine();
     },
     Relayed},
    {"relay whose send fails", u"-acommand x",
     [] {
         SetPort(sim::Listen());
         g_listening = true;
         sim::Fail("send");
         Engine();
     },
     Relayed},
    {"splash", u"Game.kel", [] { Splash("", 150); Engine(); }, Screen},
    {"splash with configuration", u"Game.kel",
     [] { Splash("SplashScreen=100x100;Splash.bmp|SplashScreenTitle=Caf\xC3\xA9", 100); Engine(); }, Screen},
    {"splash of 1 bit", u"Game.kel", [] { Splash("SplashScreen=33x17;Splash.bmp", 33, 1); Engine(); }, Screen},
    {"splash of 4 bits", u"Game.kel", [] { Splash("SplashScreen=61x61;Splash.bmp", 61, 4); Engine(); }, Screen},
    {"splash of 8 bits", u"Game.kel", [] { Splash("SplashScreen=99x99;Splash.bmp", 99, 8); Engine(); }, Screen},
    {"splash larger than the screen", u"Game.kel", [] { Splash("SplashScreen=300x300;Splash.bmp", 300); Engine(); },
     Screen},
};

// One run of a scenario: on the device kel.exe, or on the host build.
bool Run(const Scenario& s, bool device, Transcript* t) {
    sim::Reset();
    // One start is one process: the host build's socket layer starts afresh.
    cmdline::g_socketLayerState = cmdline::kSocketLayerNotStarted;
    g_device = device;
    g_running = nullptr;
    g_port.clear();
    g_listening = false;
    s.seed();
    std::string error;
    int code = device ? celoader::RunProgram(g_build + "/bin/kel.exe", s.commandLine, 1, &error)
                      : launcher::Launch(sim::LauncherModule(), nullptr, s.commandLine, 1);
    if (device && code == -1 && !error.empty()) {
        std::fprintf(stderr, "celoader: %s: %s\n", s.name, error.c_str());
        return false;
    }
    t->push_back("exit " + std::to_string(code));
    if (s.inspect != nullptr) s.inspect(t);
    // The splash thread is dismissed as an engine dismisses it, and each
    // thread's calls are read once it ended, apart, since threads interleave
    // differently from run to run. The debug trace is in the test builds
    // only: the device has none.
    std::vector<platform::DWORD> threads = sim::StartedThreads();
    for (platform::DWORD thread : threads) {
        sim::PostThreadMessage(thread, platform::WM_QUIT);
        auto ended = sim::WaitForThreadEnd(thread, 20000);
        t->push_back("thread ended " + (ended ? std::to_string(*ended) : std::string("no")));
    }
    threads.insert(threads.begin(), 0);
    for (size_t i = 0; i < threads.size(); ++i) {
        for (const std::string& call : sim::CallLogOf(threads[i])) {
            if (call.rfind("OutputDebugStringW", 0) == 0) continue;
            t->push_back((i == 0 ? std::string() : "thread " + std::to_string(i) + " ") + "call " + Ported(call));
        }
    }
    for (const auto& box : sim::MessageBoxes()) {
        t->push_back("message box \"" + testsupport::U8(box.text) + "\" \"" + testsupport::U8(box.caption) + "\" " +
                     std::to_string(box.type));
    }
    for (const std::u16string& trace : sim::Traces()) {
        if (trace.rfind(kEnginePrefix, 0) == 0) t->push_back(testsupport::U8(trace));
    }
    sim::Reset();
    if (device) celoader::UnmapAll();
    if (g_taken != nullptr) munmap(g_taken, 0x10000), g_taken = nullptr;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool show = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--align-wide-arguments") == 0) celoader::SetWideArgumentsAligned(true);
        else if (std::strcmp(argv[i], "--show") == 0) show = true;
        else if (std::strcmp(argv[i], "--engine") == 0 && i + 1 < argc) g_engine = argv[++i];
        else argc = 0;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: celoader WINCE_BUILD [--align-wide-arguments] [--show] [--engine DLL]\n");
        return 2;
    }
    g_build = argv[1];
    if (g_engine.empty()) g_engine = g_build + "/celoader/Kel.dll";
    int differing = 0;
    for (const Scenario& s : kScenarios) {
        Transcript host, device;
        if (!Run(s, false, &host) || !Run(s, true, &device)) return 2;
        bool same = host == device;
        differing += !same;
        std::printf("%s: %s (%zu lines)\n", same ? "same" : "DIFFERENT", s.name, host.size());
        for (size_t i = 0; i < host.size() || i < device.size(); ++i) {
            const std::string none = "<none>";
            const std::string& h = i < host.size() ? host[i] : none;
            const std::string& d = i < device.size() ? device[i] : none;
            if (h != d) std::printf("  host:   %s\n  device: %s\n", h.c_str(), d.c_str());
            else if (show) std::printf("  %s\n", h.c_str());
        }
        std::fflush(stdout);   // a crash in the next scenario keeps what came before
    }
    std::printf("%d of %zu scenarios differ between the device kel.exe and the host build\n", differing,
                sizeof kScenarios / sizeof kScenarios[0]);
    return differing == 0 ? 0 : 1;
}
