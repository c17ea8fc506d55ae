// The device kel.exe, its own ARM code, through the launcher's scenarios on
// the simulation, each run beside the host build of the same launcher on the
// same simulation; their transcripts must agree line for line. A scenario
// runs a launcher copy that kelpack packed from the device kel.exe, or that
// kel.exe itself, and both runs read their resources from that same file.
#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "coredll.h"
#include "ce_image.h"
#include "engine_side.h"
#include "harness.h"
#include "launcher/launcher.h"
#include "platform/resources.h"
#include "process_state.h"
#include "sim.h"
#include "text_helpers.h"

namespace celoader {

void WriteServerPort(uint32_t port) {
    sim::SetRegistryValue(platform::HKEY_LOCAL_MACHINE, u"Software\\Norvane\\KelVM", u"ServerPort",
                          platform::REG_DWORD, std::string(reinterpret_cast<const char*>(&port), 4));
}

namespace {

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
           " instance_is_launcher=" + std::to_string(instance == launcher) + " process=" + std::to_string(CurrentProcessId()));
    return static_cast<int32_t>(text.size());
}

// The engine library beside the launcher: the device's own for the device run.
void Engine(Context& c) {
    if (c.device) {
        SetDeviceLibrary(u"\\Windows\\Kel.dll", c.folders.engine);
    } else {
        sim::InstallLibrary({u"\\Windows\\Kel.dll", {{"KelMainW", reinterpret_cast<platform::FARPROC>(&HostEngine)}}});
    }
}

// The listener's port differs from run to run; transcripts name it PORT.
std::string Ported(const std::string& port, std::string line) {
    size_t at = port.empty() ? std::string::npos : line.find(":" + port);
    return at == std::string::npos ? line : line.replace(at + 1, port.size(), "PORT");
}

void SetPort(Context& c, uint32_t port) {
    c.port = std::to_string(port & 0xFFFF);
    WriteServerPort(port);
}

// The device engine's preferred base taken by other memory, so that the
// loader must map it elsewhere and relocate it; given back after the run.
void EngineAwayFromItsBase(Context& c) {
    Engine(c);
    if (!c.device) return;
    void* base = reinterpret_cast<void*>(static_cast<uintptr_t>(PreferredBase(c.folders.engine)));
    c.taken = mmap(base, 0x10000, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (c.taken != base) std::fprintf(stderr, "celoader: the engine's base could not be taken\n"), std::exit(2);
}

// An engine library under a registered path.
void RegisteredEngine(Context& c, const std::u16string& stored, const std::u16string& path) {
    sim::SetRegistryValue(platform::HKEY_CLASSES_ROOT, u"KelFile10\\DLL", u"", platform::REG_SZ,
                          std::string(reinterpret_cast<const char*>(stored.c_str()), (stored.size() + 1) * 2));
    if (c.device) {
        SetDeviceLibrary(path, c.folders.engine);
    } else {
        sim::InstallLibrary({path, {{"KelMainW", reinterpret_cast<platform::FARPROC>(&HostEngine)}}});
    }
}


// ---------------------------------------------------------------- what a scenario reads back beyond the common lines

void Registration(const Context&, Transcript* t) {
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

void Handoff(const Context& c, Transcript* t) {
    t->push_back(std::string("foreground is the running instance: ") + (sim::ForegroundWindow() == c.running ? "yes" : "no"));
    for (const auto& m : sim::PostedMessages(c.running)) {
        t->push_back("posted " + std::to_string(m.message) + " " + std::to_string(m.wParam) + " " + std::to_string(m.lParam));
    }
}

void Relayed(const Context& c, Transcript* t) {
    // Only a listener is waited for: without one there is nothing to receive.
    for (std::string bytes : sim::Received(c.listening ? 1 : 0)) {
        for (size_t at = 0; (at = bytes.find('\n', at)) != std::string::npos;) bytes.replace(at, 1, "\\n");
        t->push_back("received [" + bytes + "]");
    }
    t->push_back("sockets open " + std::to_string(sim::OpenSocketCount()));
    for (const auto& l : sim::LingerSettings()) {
        t->push_back("linger " + std::to_string(l.l_onoff) + " " + std::to_string(l.l_linger));
    }
}


// The first call of an operation in the log, or the log's end.
std::vector<std::string>::const_iterator FirstCall(const std::vector<std::string>& log, const std::string& operation) {
    return std::find_if(log.begin(), log.end(),
                        [&](const std::string& call) { return call == operation || call.rfind(operation + "(", 0) == 0; });
}

void Screen(const Context& c, Transcript* t) {
    uint64_t hash = 14695981039346656037ULL;
    for (int y = 0; y < c.screenHeight; ++y) {
        for (int x = 0; x < c.screenWidth; ++x) hash = (hash ^ sim::ScreenPixel(x, y)) * 1099511628211ULL;
    }
    char line[128];
    std::snprintf(line, sizeof line, "screen %dx%d %llx centre %06x corner %06x", c.screenWidth, c.screenHeight,
                  static_cast<unsigned long long>(hash), sim::ScreenPixel(c.screenWidth / 2, c.screenHeight / 2),
                  sim::ScreenPixel(0, 0));
    t->push_back(line);
    // The engine is entered only once the splash was painted.
    auto log = sim::CallLog();
    auto signal = FirstCall(log, "EventModify");
    auto load = FirstCall(log, "LoadLibraryW");
    t->push_back(std::string("engine loaded after the first paint: ") + (signal < load ? "yes" : "no"));
    for (platform::HWND w : sim::CreatedWindows()) {
        auto info = sim::GetWindowInfo(w);
        t->push_back("window " + testsupport::U8(info->className) + " \"" + testsupport::U8(info->title) + "\" " +
                     std::to_string(info->x) + "," + std::to_string(info->y) + " " + std::to_string(info->width) +
                     "x" + std::to_string(info->height) + " painted " + std::to_string(info->paints > 0));
    }
}

// A resource of the launcher's module, found as a program finds it: its size and a hash of its bytes.
std::string ResourceLine(const char16_t* name, const char16_t* type) {
    uint32_t length = 0;
    const auto* bytes =
        static_cast<const uint8_t*>(platform::LoadResourceBytes(sim::LauncherModule(), name, type, &length));
    if (bytes == nullptr) return "none";
    uint64_t hash = 14695981039346656037ULL;
    for (uint32_t i = 0; i < length; ++i) hash = (hash ^ bytes[i]) * 1099511628211ULL;
    char line[64];
    std::snprintf(line, sizeof line, "%u bytes %llx", length, static_cast<unsigned long long>(hash));
    return line;
}

const char16_t* Id(uint16_t id) { return reinterpret_cast<const char16_t*>(static_cast<uintptr_t>(id)); }

// The copy's icon, by number, each image its group names, and its text
// resources asked for in other letter cases.
void Resources(const Context&, Transcript* t) {
    const uint16_t kGroupIcon = 14, kIcon = 3, kGroup = 50;
    t->push_back("icon group 50: " + ResourceLine(Id(kGroup), Id(kGroupIcon)));
    uint32_t length = 0;
    const auto* group = static_cast<const uint8_t*>(
        platform::LoadResourceBytes(sim::LauncherModule(), Id(kGroup), Id(kGroupIcon), &length));
    for (uint32_t i = 0; group != nullptr && 6 + 14 * (i + 1) <= length && i < static_cast<uint32_t>(group[4] | group[5] << 8); ++i) {
        uint16_t id = static_cast<uint16_t>(group[6 + 14 * i + 12] | group[6 + 14 * i + 13] << 8);
        t->push_back("icon " + std::to_string(id) + ": " + ResourceLine(Id(id), Id(kIcon)));
    }
    t->push_back("text/commandline: " + ResourceLine(u"commandline", u"text"));
    t->push_back("TEXT/CONFIG: " + ResourceLine(u"CONFIG", u"TEXT"));
}

void ScreenAndResources(const Context& c, Transcript* t) {
    Screen(c, t);
    Resources(c, t);
}

struct Scenario {
    const char* name;
    const char* copy;   // the launcher copy it runs, in the copies folder; null: the device kel.exe as built
    const char16_t* commandLine;
    void (*seed)(Context&);
    void (*inspect)(const Context&, Transcript*);
    int screenWidth = 240;
    int screenHeight = 320;
};

const Scenario kScenarios[] = {
    {"merge", "line.exe", u"-+ -h 5 -- doc.kel", Engine, nullptr},
    {"merge without a prefix section", "line.exe", u"   doc.kel  -x 3  ", Engine, nullptr},
    {"user line unchanged", nullptr, u"  \"\\My Documents\\Game.kel\"  ", Engine, nullptr},
    {"beyond ASCII and tabs", "line-tab.exe", u"-+ \"caf\u00e9\"\t-- \u4e2d\u6587.kel", Engine, nullptr},
    {"engine mapped away from its base", "line.exe", u"-+ -h 5 -- doc.kel", EngineAwayFromItsBase, nullptr},
    {"missing engine", nullptr, u"Game.kel", [](Context&) {}, nullptr},
    {"missing entry", nullptr, u"Game.kel", [](Context&) { sim::InstallLibrary({u"\\Windows\\Kel.dll", {}}); }, nullptr},
    {"registered engine path", nullptr, u"Game.kel",
     [](Context& c) { RegisteredEngine(c, u"\"\\Storage Card\\Kel.dll\"", u"\\Storage Card\\Kel.dll"); }, nullptr},
    {"registered path of 300 characters", nullptr, u"x",
     [](Context& c) {
         std::u16string path = u"\\" + std::u16string(290, u'd') + u"\\Kel.dll";
         RegisteredEngine(c, path, path);
     },
     nullptr},
    {"registered path longer than any", nullptr, u"x",
     [](Context& c) {
         std::u16string path = u"\\" + std::u16string(32768, u'd') + u"\\Kel.dll";
         RegisteredEngine(c, path, path);
     },
     nullptr},
    {"package unloadable", "line.exe", u"x", [](Context& c) { sim::Fail("LoadResource"); Engine(c); }, nullptr},
    {"plus with more is an ordinary line", nullptr, u"+ x", Engine, Registration},
    {"registration by lone plus", nullptr, u"+", [](Context&) { sim::SetLauncherPath(u"\\Windows\\Start.exe"); }, Registration},
    {"registration on blank line", nullptr, u"  ", [](Context& c) { sim::SetLauncherPath(u"\\Program Files\\G\\G.exe"); Engine(c); },
     Registration},
    {"handoff", "line.exe", u"doc.kel", [](Context& c) { c.running = sim::AddForeignWindow(u"app_Main"); Engine(c); }, Handoff},
    {"relay", "line.exe", u"-+ -acommand \"go home\" --", [](Context& c) {
         SetPort(c, sim::Listen());
         c.listening = true;
         Engine(c);
     }, Relayed},
    {"relay refused", nullptr, u" -acommand \"go home\" ", [](Context& c) { SetPort(c, sim::UnusedPort()); Engine(c); }, Relayed},
    {"relay of a short send, port in the low 16 bits", nullptr, u"-acommand \"go home\"",
     [](Context& c) {
         SetPort(c, 0x50000u | sim::Listen());
         c.listening = true;
         sim::LimitSend(3);
         Engine(c);
     },
     Relayed},
    {"relay without a socket layer", nullptr, u"-acommand x",
     [](Context& c) {
         SetPort(c, sim::UnusedPort());
         sim::Fail("WSAStartup");
         Engine(c);
     },
     Relayed},
    {"relay whose send fails", nullptr, u"-acommand x",
     [](Context& c) {
         SetPort(c, sim::Listen());
         c.listening = true;
         sim::Fail("send");
         Engine(c);
     },
     Relayed},
    {"splash of the default configuration", "splash-default.exe", u"Game.kel", Engine, Screen},
    {"default configuration's larger bitmap missing", "splash-default.exe", u"Game.kel", Engine, Screen, 480, 640},
    {"splash with a title", "splash-titled.exe", u"Game.kel", Engine, Screen},
    {"splash of 1 bit", "splash-1.exe", u"Game.kel", Engine, Screen},
    {"splash of 4 bits", "splash-4.exe", u"Game.kel", Engine, Screen, 320, 240},
    {"splash of 8 bits", "splash-8.exe", u"Game.kel", Engine, Screen},
    {"splash larger than the screen", "splash-large.exe", u"Game.kel", Engine, Screen},
    {"several splashes, 240x320", "splashes.exe", u"Game.kel", Engine, Screen},
    {"several splashes, 320x240", "splashes.exe", u"Game.kel", Engine, Screen, 320, 240},
    {"several splashes, 240x240", "splashes.exe", u"Game.kel", Engine, Screen, 240, 240},
    {"several splashes, 480x640", "splashes.exe", u"Game.kel", Engine, Screen, 480, 640},
    {"command line, splash and icon", "full.exe", u"-+ -v -- doc.kel", Engine, ScreenAndResources},
    // What the device does with a damaged tree: no resource is found, so the
    // user's line goes to the engine unchanged and no splash is shown.
    {"control: resources that are garbage", kGarbled, u"doc.kel", Engine, ScreenAndResources},
    // Without an embedded line the user's line is the command line, unchanged.
    {"control: no CommandLine", "no-line.exe", u"  doc.kel ", Engine, ScreenAndResources},
};

// ---------------------------------------------------------------- one run

// Reads back what every run shows: the exit code, what the scenario reads
// back, each thread's calls, the message boxes and what the engine recorded.
// A thread whose calls are left out of the main thread's (apart: a second
// instance's, which celoader run --then prints by themselves).
}  // namespace

Transcript Collect(const Context& c, int code, void (*inspect)(const Context&, Transcript*), platform::DWORD apart) {
    Transcript t;
    t.push_back("exit " + std::to_string(code));
    if (inspect != nullptr) inspect(c, &t);
    // The splash thread is dismissed as an engine dismisses it, and each
    // thread's calls are read once it ended, apart, since threads interleave
    // differently from run to run. The debug trace is in the test builds
    // only: the device has none.
    std::vector<platform::DWORD> threads = sim::StartedThreads();
    for (platform::DWORD thread : threads) {
        sim::PostThreadMessage(thread, platform::WM_QUIT);
        auto ended = sim::WaitForThreadEnd(thread, 20000);
        t.push_back("thread ended " + (ended ? std::to_string(*ended) : std::string("no")));
    }
    threads.insert(threads.begin(), 0);
    for (size_t i = 0; i < threads.size(); ++i) {
        for (const std::string& call : sim::CallLogOf(threads[i], apart)) {
            if (call.rfind("OutputDebugStringW", 0) == 0) continue;
            t.push_back((i == 0 ? std::string() : "thread " + std::to_string(i) + " ") + "call " + Ported(c.port, call));
        }
    }
    for (const auto& box : sim::MessageBoxes()) {
        t.push_back("message box \"" + testsupport::U8(box.text) + "\" \"" + testsupport::U8(box.caption) + "\" " +
                    std::to_string(box.type));
    }
    for (const std::u16string& trace : sim::Traces()) {
        if (trace.rfind(kEnginePrefix, 0) == 0) t.push_back(testsupport::U8(trace));
    }
    return t;
}

namespace {

std::string ProgramOf(const Folders& f, const Scenario& s) {
    return s.copy != nullptr ? f.copies + "/" + s.copy : f.build + "/bin/kel.exe";
}

// One run of a scenario: on the device kel.exe, or on the host build; both
// read the program's resources from the same file.
bool Run(const Folders& folders, const Scenario& s, bool device, Transcript* t) {
    sim::Reset();
    // One start is one process: the host build's socket layer starts afresh.
    cmdline::g_socketLayerState = cmdline::kSocketLayerNotStarted;
    Context c{folders};
    c.device = device;
    c.screenWidth = s.screenWidth;
    c.screenHeight = s.screenHeight;
    sim::SetScreenSize(s.screenWidth, s.screenHeight);
    s.seed(c);
    std::string program = ProgramOf(folders, s), error;
    int code = -1;
    if (device) {
        code = RunProgram(program, s.commandLine, 1, &error);
    } else if (platform::HMODULE module = sim::MapImageFile(program, &error)) {
        sim::SetLauncherModule(module);
        code = launcher::Launch(module, nullptr, s.commandLine, 1);
    }
    if (code == -1 && !error.empty()) {
        std::fprintf(stderr, "celoader: %s: %s\n", s.name, error.c_str());
        return false;
    }
    *t = Collect(c, code, s.inspect);
    sim::Reset();
    if (device) UnmapAll();
    if (c.taken != nullptr) munmap(c.taken, 0x10000);
    return true;
}

// Prints where two transcripts differ (or, with all, every line); true when they agree.
bool Compare(const Transcript& host, const Transcript& device, bool all) {
    for (size_t i = 0; i < host.size() || i < device.size(); ++i) {
        const std::string none = "<none>";
        const std::string& h = i < host.size() ? host[i] : none;
        const std::string& d = i < device.size() ? device[i] : none;
        if (h != d) std::printf("  host:   %s\n  device: %s\n", h.c_str(), d.c_str());
        else if (all) std::printf("  %s\n", h.c_str());
    }
    return host == device;
}

}  // namespace

int RunScenarios(const Folders& folders, bool show, bool faults) {
    std::string error;
    if (!MakeGarbled(folders.copies, &error)) {
        std::fprintf(stderr, "celoader: %s/%s: %s\n", folders.copies.c_str(), kGarbled, error.c_str());
        return 2;
    }
    int differing = 0;
    std::vector<Transcript> hosts, devices;
    std::vector<std::string> names;
    for (const Scenario& s : kScenarios) {
        Transcript host, device;
        if (!Run(folders, s, false, &host) || !Run(folders, s, true, &device)) return 2;
        bool same = host == device;
        differing += !same;
        std::printf("%s: %s (%s, %dx%d, %zu lines)\n", same ? "same" : "DIFFERENT", s.name,
                    s.copy != nullptr ? s.copy : "kel.exe", s.screenWidth, s.screenHeight, host.size());
        Compare(host, device, show);
        std::fflush(stdout);   // a crash in the next scenario keeps what came before
        hosts.push_back(host);
        devices.push_back(device);
        names.push_back(s.name);
    }
    size_t count = sizeof kScenarios / sizeof kScenarios[0];
    std::printf("%d of %zu scenarios differ between the device kel.exe and the host build\n", differing, count);
    if (differing != 0) return 1;
    if (!faults) return 0;
    return PlantFaults(names, hosts, devices, [&](size_t i) {
        Transcript t;
        if (!Run(folders, kScenarios[i], true, &t)) _exit(2);
        return t;
    });
}

}  // namespace celoader
