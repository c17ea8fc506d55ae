// The device kel.exe, its own ARM code, through the launcher's scenarios on
// the simulation, each run beside the host build of the same launcher on the
// same simulation; their transcripts must agree line for line. A scenario
// runs a launcher copy that kelpack packed from the device kel.exe, or that
// kel.exe itself, and both runs read their resources from that same file.
//
//   celoader WINCE_BUILD --copies DIR [--align-wide-arguments] [--show] [--engine DLL] [--faults] [--lenient]
//   celoader copies DIR
//   celoader run [--screen WxH] [--engine DLL] [--png FILE] EXE [LINE]
//
// WINCE_BUILD is the wince-arm build folder: its bin/kel.exe runs, and its
// celoader/Kel.dll (or DLL) is the engine the device launcher loads. DIR holds
// the copies. --show prints every transcript; --faults then plants each fault
// of the fault table in turn and names the scenario that caught it;
// --lenient runs on the simulation as lenient as it used to be, and the
// fault table then names the faults that would pass again, and only reports.
// Exit: 0
// all agree (and every fault was caught), 1 a difference (or a fault went
// unnoticed), 2 a run could not start, 3 the device code called for
// something the loader lacks.
//
// `copies DIR` writes the pictures the copies are packed from into DIR and
// prints, one line per copy, its file name and the options of `kelpack pack`
// that make it, separated by 0x1F; run.sh packs them with the host kelpack.
//
// `run` runs one program (README.md).
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>
#include <string>
#include <vector>

#include <stb_image_write.h>

#include "bmp_builder.h"
#include "ce_image.h"
#include "coredll.h"
#include "cmdline/relay.h"
#include "kelpack/pe.h"
#include "launcher/launcher.h"
#include "platform/resources.h"
#include "process_state.h"
#include "sim.h"
#include "text_helpers.h"

// The harness's own side of a loopback relay; after the platform header,
// whose names these headers make macros of.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

using Transcript = std::vector<std::string>;

bool g_device = false;
std::string g_build;    // the wince-arm build folder
std::string g_copies;   // the folder of the launcher copies kelpack made (Copies)
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
           " instance_is_launcher=" + std::to_string(instance == launcher) + " process=" + std::to_string(sim::CurrentProcessId()));
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

// The listener's port differs from run to run; transcripts name it PORT.
std::string g_port;
bool g_listening = false;
std::string Ported(std::string line) {
    size_t at = g_port.empty() ? std::string::npos : line.find(":" + g_port);
    return at == std::string::npos ? line : line.replace(at + 1, g_port.size(), "PORT");
}

void WriteServerPort(uint32_t port) {
    sim::SetRegistryValue(platform::HKEY_LOCAL_MACHINE, u"Software\\Norvane\\KelVM", u"ServerPort",
                          platform::REG_DWORD, std::string(reinterpret_cast<const char*>(&port), 4));
}

void SetPort(uint32_t port) {
    g_port = std::to_string(port & 0xFFFF);
    WriteServerPort(port);
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


// ---------------------------------------------------------------- the launcher copies

// A picture a copy is packed from, as a 24-bit BMP file: of `colours`
// colours (0: a gradient of many more than 256), so that kelpack writes it at
// 1, 4, 8 or 24 bits, the smallest file that holds it.
struct Picture {
    const char* file;
    int width;
    int height;
    int colours;
};

const Picture kPictures[] = {
    {"default.bmp", 150, 110, 0},  {"titled.bmp", 100, 80, 40},  {"one.bmp", 33, 17, 2},
    {"four.bmp", 61, 45, 16},      {"eight.bmp", 99, 71, 200},   {"large.bmp", 300, 260, 0},
    {"b.bmp", 150, 200, 2},        {"c.bmp", 230, 300, 16},      {"d.bmp", 300, 200, 200},
    {"e.bmp", 460, 600, 0},        {"full.bmp", 120, 90, 0},     {"icon.bmp", 40, 40, 0},
};

std::string PictureBytes(const Picture& p) {
    testsupport::BmpFile file;
    file.width = p.width;
    file.height = p.height;
    int colours = p.colours;
    if (colours == 0) {
        file.pixel = [](int x, int y) { return static_cast<uint32_t>((x * 7 & 0xFF) << 16 | (y * 5 & 0xFF) << 8 | ((x ^ y) & 0xFF)); };
    } else {
        // Distinct colours, in a pattern that shows a picture turned or mirrored.
        file.pixel = [colours](int x, int y) {
            uint32_t i = static_cast<uint32_t>(x + 3 * y + x * y / 7) % colours;
            return (i * 37 & 0xFF) << 16 | (255 - i) << 8 | (i * 11 & 0xFF);
        };
    }
    return testsupport::BmpBytes(file);
}

// The copies: each packed by kelpack from the device kel.exe with these options.
struct Copy {
    const char* file;
    std::vector<std::string> options;
};

const Copy kCopies[] = {
    {"line.exe", {"--command-line", "app.Main"}},
    {"line-tab.exe", {"--command-line", "app.Main\tx"}},
    // No CONFIG: the launcher's default one, whose first entry is Splash.bmp.
    {"splash-default.exe", {"--bitmap", "Splash.bmp=default.bmp"}},
    {"splash-titled.exe", {"--splash", "100x80:titled.bmp", "--title", "Caf\xC3\xA9"}},
    {"splash-1.exe", {"--splash", "33x17:one.bmp"}},
    {"splash-4.exe", {"--splash", "61x45:four.bmp"}},
    {"splash-8.exe", {"--splash", "99x71:eight.bmp"}},
    {"splash-large.exe", {"--splash", "300x260:large.bmp"}},
    // Each of the four screens chooses another entry: 240x240 the first,
    // 240x320 the second, 320x240 the third, 480x640 the last.
    {"splashes.exe",
     {"--splash", "150x200:b.bmp", "--splash", "230x300:c.bmp", "--splash", "300x200:d.bmp", "--splash",
      "460x600:e.bmp", "--title", "Several splashes"}},
    {"full.exe", {"--command-line", "app.Main", "--splash", "120x90:full.bmp", "--title", "Full", "--icon", "icon.bmp"}},
    {"no-line.exe", {"--splash", "120x90:full.bmp", "--title", "No line"}},
};

// A copy whose resource section holds garbage, made here from full.exe.
const char kGarbled[] = "garbled.exe";

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    return static_cast<bool>(out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())));
}

int PrintCopies(const std::string& dir) {
    for (const Picture& p : kPictures) {
        if (!WriteFile(dir + "/" + p.file, PictureBytes(p))) {
            std::fprintf(stderr, "celoader: %s/%s cannot be written\n", dir.c_str(), p.file);
            return 2;
        }
    }
    for (const Copy& c : kCopies) {
        std::string line = c.file;
        for (const std::string& option : c.options) line += "\x1f" + option;
        std::printf("%s\n", line.c_str());
    }
    return 0;
}

// Overwrites full.exe's resource section, every byte of it, with a
// pseudo-random sequence: the tree's counts and offsets become garbage.
bool MakeGarbled(std::string* error) {
    std::ifstream in(g_copies + "/full.exe", std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    kelpack::PeImage pe;
    if (!kelpack::ParsePe(bytes, &pe, error)) return false;
    if (pe.dirs.size() <= kelpack::kDirResource || pe.dirs[kelpack::kDirResource].address == 0) {
        *error = "full.exe has no resources";
        return false;
    }
    int section = kelpack::SectionOfRva(pe, pe.dirs[kelpack::kDirResource].address);
    uint32_t state = 0x2545F491;
    for (uint32_t i = 0; i < pe.sections[section].rawSize; ++i) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        bytes[pe.sections[section].rawOffset + i] = static_cast<uint8_t>(state);
    }
    if (!WriteFile(g_copies + "/" + kGarbled, std::string(bytes.begin(), bytes.end()))) {
        *error = "garbled.exe cannot be written";
        return false;
    }
    return true;
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


// The screen the scenario runs on.
int g_screenWidth = 240;
int g_screenHeight = 320;

// The first call of an operation in the log, or the log's end.
std::vector<std::string>::const_iterator FirstCall(const std::vector<std::string>& log, const std::string& operation) {
    return std::find_if(log.begin(), log.end(),
                        [&](const std::string& call) { return call == operation || call.rfind(operation + "(", 0) == 0; });
}

void Screen(Transcript* t) {
    uint64_t hash = 14695981039346656037ULL;
    for (int y = 0; y < g_screenHeight; ++y) {
        for (int x = 0; x < g_screenWidth; ++x) hash = (hash ^ sim::ScreenPixel(x, y)) * 1099511628211ULL;
    }
    char line[128];
    std::snprintf(line, sizeof line, "screen %dx%d %llx centre %06x corner %06x", g_screenWidth, g_screenHeight,
                  static_cast<unsigned long long>(hash), sim::ScreenPixel(g_screenWidth / 2, g_screenHeight / 2),
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
void Resources(Transcript* t) {
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

void ScreenAndResources(Transcript* t) {
    Screen(t);
    Resources(t);
}

struct Scenario {
    const char* name;
    const char* copy;   // the launcher copy it runs, in the copies folder; null: the device kel.exe as built
    const char16_t* commandLine;
    void (*seed)();
    void (*inspect)(Transcript*);
    int screenWidth = 240;
    int screenHeight = 320;
};

const Scenario kScenarios[] = {
    {"merge", "line.exe", u"-+ -h 5 -- doc.kel", Engine, nullptr},
    {"merge without a prefix section", "line.exe", u"   doc.kel  -x 3  ", Engine, nullptr},
    {"user line unchanged", nullptr, u"  \"\\My Documents\\Game.kel\"  ", Engine, nullptr},
    {"beyond ASCII and tabs", "line-tab.exe", u"-+ \"caf\u00e9\"\t-- \u4e2d\u6587.kel", Engine, nullptr},
    {"engine mapped away from its base", "line.exe", u"-+ -h 5 -- doc.kel", EngineAwayFromItsBase, nullptr},
    {"missing engine", nullptr, u"Game.kel", [] {}, nullptr},
    {"missing entry", nullptr, u"Game.kel", [] { sim::InstallLibrary({u"\\Windows\\Kel.dll", {}}); }, nullptr},
    {"registered engine path", nullptr, u"Game.kel",
     [] { RegisteredEngine(u"\"\\Storage Card\\Kel.dll\"", u"\\Storage Card\\Kel.dll"); }, nullptr},
    {"registered path of 300 characters", nullptr, u"x",
     [] {
         std::u16string path = u"\\" + std::u16string(290, u'd') + u"\\Kel.dll";
         RegisteredEngine(path, path);
     },
     nullptr},
    {"registered path longer than any", nullptr, u"x",
     [] {
         std::u16string path = u"\\" + std::u16string(32768, u'd') + u"\\Kel.dll";
         RegisteredEngine(path, path);
     },
     nullptr},
    {"package unloadable", "line.exe", u"x", [] { sim::Fail("LoadResource"); Engine(); }, nullptr},
    {"plus with more is an ordinary line", nullptr, u"+ x", Engine, Registration},
    {"registration by lone plus", nullptr, u"+", [] { sim::SetLauncherPath(u"\\Windows\\Start.exe"); }, Registration},
    {"registration on blank line", nullptr, u"  ", [] { sim::SetLauncherPath(u"\\Program Files\\G\\G.exe"); Engine(); },
     Registration},
    {"handoff", "line.exe", u"doc.kel", [] { g_running = sim::AddForeignWindow(u"app_Main"); Engine(); }, Handoff},
    {"relay", "line.exe", u"-+ -acommand \"go home\" --", [] {
         SetPort(sim::Listen());
         g_listening = true;
         Engine();
     }, Relayed},
    {"relay refused", nullptr, u" -acommand \"go home\" ", [] { SetPort(sim::UnusedPort()); Engine(); }, Relayed},
    {"relay of a short send, port in the low 16 bits", nullptr, u"-acommand \"go home\"",
     [] {
         SetPort(0x50000u | sim::Listen());
         g_listening = true;
         sim::LimitSend(3);
         Engine();
     },
     Relayed},
    {"relay without a socket layer", nullptr, u"-acommand x",
     [] {
         SetPort(sim::UnusedPort());
         sim::Fail("WSAStartup");
         Engine();
     },
     Relayed},
    {"relay whose send fails", nullptr, u"-acommand x",
     [] {
         SetPort(sim::Listen());
         g_listening = true;
         sim::Fail("send");
         Engine();
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
Transcript Collect(int code, void (*inspect)(Transcript*), platform::DWORD apart = 0) {
    Transcript t;
    t.push_back("exit " + std::to_string(code));
    if (inspect != nullptr) inspect(&t);
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
            t.push_back((i == 0 ? std::string() : "thread " + std::to_string(i) + " ") + "call " + Ported(call));
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

std::string ProgramOf(const Scenario& s) {
    return s.copy != nullptr ? g_copies + "/" + s.copy : g_build + "/bin/kel.exe";
}

// One run of a scenario: on the device kel.exe, or on the host build; both
// read the program's resources from the same file.
bool Run(const Scenario& s, bool device, Transcript* t) {
    sim::Reset();
    // One start is one process: the host build's socket layer starts afresh.
    cmdline::g_socketLayerState = cmdline::kSocketLayerNotStarted;
    g_device = device;
    g_running = nullptr;
    g_port.clear();
    g_listening = false;
    g_screenWidth = s.screenWidth;
    g_screenHeight = s.screenHeight;
    sim::SetScreenSize(s.screenWidth, s.screenHeight);
    s.seed();
    std::string program = ProgramOf(s), error;
    int code = -1;
    if (device) {
        code = celoader::RunProgram(program, s.commandLine, 1, &error);
    } else if (platform::HMODULE module = sim::MapImageFile(program, &error)) {
        sim::SetLauncherModule(module);
        code = launcher::Launch(module, nullptr, s.commandLine, 1);
    }
    if (code == -1 && !error.empty()) {
        std::fprintf(stderr, "celoader: %s: %s\n", s.name, error.c_str());
        return false;
    }
    *t = Collect(code, s.inspect);
    sim::Reset();
    if (device) celoader::UnmapAll();
    if (g_taken != nullptr) munmap(g_taken, 0x10000), g_taken = nullptr;
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

// ---------------------------------------------------------------- planted faults

using celoader::Fault;

// Words of each call's arguments, as the device passes them.
const Fault kFaults[] = {
    // CreateWindowExW(exStyle, class, title, style, x, y, width, height, parent, menu, instance, parameter)
    {"CreateWindowExW with WS_EX_TOPMOST", "CreateWindowExW", [](uint32_t* w) { w[0] |= 0x00000008; }},
    {"CreateWindowExW with WS_CAPTION", "CreateWindowExW", [](uint32_t* w) { w[3] |= 0x00C00000; }},
    {"CreateWindowExW of another instance", "CreateWindowExW", [](uint32_t* w) { w[10] += 0x10000; }},
    {"CreateWindowExW with a parent", "CreateWindowExW", [](uint32_t* w) { w[8] = 0x0BAD0010; }},
    {"CreateWindowExW with width and height swapped", "CreateWindowExW", [](uint32_t* w) { std::swap(w[6], w[7]); }},
    // CreateThread(attributes, stack size, routine, parameter, flags, id)
    {"CreateThread with CREATE_SUSPENDED", "CreateThread", [](uint32_t* w) { w[4] |= 0x00000004; }},
    {"CreateThread with a stack of 64 MiB", "CreateThread", [](uint32_t* w) { w[1] = 64u << 20; }},
    // RegCreateKeyExW(key, subkey, reserved, class, options, access, attributes, result, disposition)
    {"RegCreateKeyExW with REG_OPTION_VOLATILE", "RegCreateKeyExW", [](uint32_t* w) { w[4] = 1; }},
    {"RegCreateKeyExW with KEY_ALL_ACCESS", "RegCreateKeyExW", [](uint32_t* w) { w[5] = 0x000F003F; }},
    {"RegCreateKeyExW with reserved set", "RegCreateKeyExW", [](uint32_t* w) { w[2] = 1; }},
    // BitBlt(dc, x, y, width, height, source, source x, source y, raster operation)
    {"BitBlt with BLACKNESS", "BitBlt", [](uint32_t* w) { w[8] = 0x00000042; }},
    // CreateDIBSection(dc, info, usage, bits, section, offset)
    {"CreateDIBSection with DIB_PAL_COLORS", "CreateDIBSection", [](uint32_t* w) { w[2] = 1; }},
    {"CreateDIBSection with a section handle", "CreateDIBSection", [](uint32_t* w) { w[4] = 0x0BAD0020; }},
    // CreateEventW(attributes, manual reset, initial state, name)
    {"CreateEventW manual-reset", "CreateEventW", [](uint32_t* w) { w[1] = 1; }},
    {"CreateEventW already signalled", "CreateEventW", [](uint32_t* w) { w[2] = 1; }},
    // WaitForSingleObject(object, milliseconds)
    {"WaitForSingleObject without waiting", "WaitForSingleObject", [](uint32_t* w) { w[1] = 0; }},
    // SetForegroundWindow(window)
    {"SetForegroundWindow of no window", "SetForegroundWindow", [](uint32_t* w) { w[0] = 0; }},
    // PostMessageW(window, message, wParam, lParam)
    {"PostMessageW of the next message", "PostMessageW", [](uint32_t* w) { w[1] += 1; }},
    // RegSetValueExW(key, name, reserved, type, data, size)
    {"RegSetValueExW of another type", "RegSetValueExW", [](uint32_t* w) { w[3] = w[3] == 1 ? 2 : 1; }},
    {"RegSetValueExW two bytes short", "RegSetValueExW", [](uint32_t* w) { w[5] -= 2; }},
};

// Whether a transcript shows a call of the operation.
bool Calls(const Transcript& t, const std::string& operation) {
    for (const std::string& line : t) {
        size_t at = line.find("call " + operation);
        if (at == std::string::npos || (at != 0 && line[at - 1] != ' ')) continue;
        size_t end = at + 5 + operation.size();
        if (end == line.size() || line[end] == '(') return true;
    }
    return false;
}

// A run in a process of its own, so that a fault that crashes or hangs the
// program is seen as what it is: its transcript, or how it ended.
Transcript InChild(const std::function<Transcript()>& run) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return {"the fault's run could not start"};
    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        alarm(60);
        Transcript t = run();
        std::string all;
        for (const std::string& line : t) all += line + "\n";
        for (size_t at = 0; at < all.size();) {
            ssize_t n = write(pipeEnds[1], all.data() + at, all.size() - at);
            if (n <= 0) _exit(2);
            at += static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(pipeEnds[1]);
    std::string all;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) all.append(buffer, static_cast<size_t>(n));
    close(pipeEnds[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return {"the fault's run could not start"};
    Transcript t;
    for (size_t at = 0, end; (end = all.find('\n', at)) != std::string::npos; at = end + 1) t.push_back(all.substr(at, end - at));
    if (WIFSIGNALED(status)) t.push_back("ended by signal " + std::to_string(WTERMSIG(status)));
    else if (WEXITSTATUS(status) != 0) t.push_back("ended with " + std::to_string(WEXITSTATUS(status)));
    return t;
}

// A device run with a fault planted.
Transcript RunPlanted(const Scenario& s, const Fault& fault) {
    return InChild([&] {
        celoader::PlantFault(&fault);
        Transcript t;
        if (!Run(s, true, &t)) _exit(2);
        return t;
    });
}

// Plants each fault in turn in the device runs of the scenarios that call
// its function, until one differs from the host run. Returns the faults that
// none revealed.
std::vector<std::string> PlantFaults(const std::vector<Transcript>& host, const std::vector<Transcript>& device,
                                     bool lenient) {
    if (lenient) std::printf("\nplanted faults, with the simulation as lenient as it was:\n");
    else std::printf("\nplanted faults: each must make a scenario's device run differ from its host run\n");
    std::vector<std::string> unnoticed;
    for (const Fault& fault : kFaults) {
        std::string caughtBy;
        int tried = 0;
        for (size_t i = 0; i < host.size() && caughtBy.empty(); ++i) {
            if (!Calls(device[i], fault.function)) continue;
            ++tried;
            Transcript planted = RunPlanted(kScenarios[i], fault);
            if (planted == host[i]) continue;
            size_t line = 0;
            while (line < planted.size() && line < host[i].size() && planted[line] == host[i][line]) ++line;
            caughtBy = std::string(kScenarios[i].name) + ": " + (line < planted.size() ? planted[line] : "<none>");
        }
        if (caughtBy.empty()) {
            unnoticed.push_back(fault.name);
            std::printf("  %-10s %-48s (%d scenarios call %s; none differed)\n", lenient ? "would pass" : "UNNOTICED",
                        fault.name, tried, fault.function);
        } else {
            std::printf("  caught     %-48s -> %s\n", fault.name, caughtBy.substr(0, 160).c_str());
        }
        std::fflush(stdout);
    }
    return unnoticed;
}

// ---------------------------------------------------------------- the sample engine

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

// Another start of the same device program with a line, beside the one
// running: a process of its own, run on the calling thread; its exit code.
int SecondStart(const std::string& copy, const char16_t* line) {
    std::string error;
    int code = celoader::RunProgram(copy, line, 1, &error);
    if (code == -1 && !error.empty()) std::fprintf(stderr, "celoader: second start: %s\n", error.c_str());
    return code;
}

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

// The first window of a class with that parent, of any process but `except` (0: none).
platform::HWND WindowOf(const std::u16string& className, platform::HWND parent, platform::DWORD except = 0) {
    return FirstWindow([&](const sim::WindowInfo& info) {
        return info.className == className && info.parent == parent && info.processId != except;
    });
}

// Waits up to seconds for a condition, looking every 10 ms.
template <typename F>
bool Within(int seconds, F condition) {
    for (int i = 0; i < seconds * 100; ++i) {
        if (condition()) return true;
        usleep(10000);
    }
    return condition();
}

// The engine's listener gone, as after it failed: ServerPort names a port
// nothing listens on. A second start's relay is then refused, and it starts
// an engine of its own in a process of its own, leaving the first alone; a
// third start's relay ends that one. Then the first's port is written back
// for the harness's own relay to reach the first.
void SecondEngine(const EngineScenario& s, platform::HWND firstWindow, Transcript* facts) {
    const std::string copy = g_copies + "/" + s.copy;
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
void PlayOtherSide(const EngineScenario& s, Transcript* facts) {
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
    const std::string copy = g_copies + "/" + s.copy;
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
    if (s.pair == Pair::kListenerGone) SecondEngine(s, window, facts);
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
Transcript RunSample(const EngineScenario& s, Transcript* all) {
    sim::Reset();
    g_screenWidth = 240;
    g_screenHeight = 320;
    sim::SetScreenSize(240, 320);
    celoader::SetDeviceLibrary(u"\\Windows\\Kel.dll", g_engine);
    Transcript facts;
    std::thread other(PlayOtherSide, std::cref(s), &facts);
    std::string error;
    int code = celoader::RunProgram(g_copies + "/" + s.copy, s.commandLine, 1, &error);
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
    *all = Collect(code, nullptr);
    facts.push_back("sockets open " + std::to_string(sim::OpenSocketCount()));
    sim::Reset();
    celoader::UnmapAll();
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
bool SampleFaultCaught(const char* fault, const EngineScenario& s, void (*plant)()) {
    Transcript planted = InChild([&] {
        plant();
        Transcript all;
        return RunSample(s, &all);
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

int RunSampleEngine(bool show) {
    int differing = 0;
    for (const EngineScenario& s : kEngineScenarios) {
        Transcript all;
        Transcript facts = RunSample(s, &all);
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
        unnoticed += !SampleFaultCaught(kEngineFault.name, s, [] { celoader::PlantFault(&kEngineFault); });
    }
    // A second program must read its own process id where the device keeps
    // it: with one id for all, the second's engine takes its own splash for
    // another process's and leaves it up.
    for (const EngineScenario& s : kEngineScenarios) {
        if (s.pair != Pair::kListenerGone) continue;
        unnoticed += !SampleFaultCaught("one process id for all programs", s, [] { celoader::SetKernelPageShared(true); });
    }
    return unnoticed == 0 ? 0 : 1;
}

// ---------------------------------------------------------------- celoader run

// The recording engine beside this loader: build/wince-arm/celoader/Kel.dll
// for build/armel/bin/celoader.
std::string RecordingEngine(const char* argv0) {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(argv0);
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    return dir + "/../../wince-arm/celoader/Kel.dll";
}

void AppendBytes(void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<size_t>(size));
}

// The screen as RGB rows, top first.
std::vector<uint8_t> ScreenRows() {
    std::vector<uint8_t> rows;
    for (int y = 0; y < g_screenHeight; ++y) {
        for (int x = 0; x < g_screenWidth; ++x) {
            uint32_t pixel = sim::ScreenPixel(x, y);
            rows.push_back(static_cast<uint8_t>(pixel >> 16));
            rows.push_back(static_cast<uint8_t>(pixel >> 8));
            rows.push_back(static_cast<uint8_t>(pixel));
        }
    }
    return rows;
}

int RunOne(int argc, char** argv) {
    const char* usage = "usage: celoader run [--screen WxH] [--engine DLL] [--png FILE] EXE [LINE] [--then LINE2]\n";
    std::string engine = RecordingEngine(argv[0]), png, program;
    const char* line = nullptr;
    const char* then = nullptr;
    if (argc >= 4 && std::strcmp(argv[argc - 2], "--then") == 0) {
        then = argv[argc - 1];
        argc -= 2;
    }
    int at = 2;
    for (; at + 1 < argc && std::strncmp(argv[at], "--", 2) == 0; at += 2) {
        if (std::strcmp(argv[at], "--screen") == 0) {
            char x = 0, end = 0;
            if (std::sscanf(argv[at + 1], "%d%c%d%c", &g_screenWidth, &x, &g_screenHeight, &end) != 3 || x != 'x' ||
                g_screenWidth < 1 || g_screenHeight < 1 || g_screenWidth > 4096 || g_screenHeight > 4096) {
                std::fprintf(stderr, "celoader: --screen takes WIDTHxHEIGHT, 1 to 4096 each, not %s\n", argv[at + 1]);
                return 2;
            }
        } else if (std::strcmp(argv[at], "--engine") == 0) {
            engine = argv[at + 1];
        } else if (std::strcmp(argv[at], "--png") == 0) {
            png = argv[at + 1];
        } else {
            break;
        }
    }
    if (at >= argc || argc - at > 2 || argv[at][0] == '-') {
        std::fprintf(stderr, "%s", usage);
        return 2;
    }
    program = argv[at];
    if (at + 1 < argc) line = argv[at + 1];
    if (access(engine.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "celoader: the engine %s cannot be read\n", engine.c_str());
        return 2;
    }

    sim::Reset();
    sim::SetScreenSize(g_screenWidth, g_screenHeight);
    celoader::SetDeviceLibrary(u"\\Windows\\Kel.dll", engine);
    std::vector<uint8_t> shot;
    bool engineCalled = false;
    celoader::BeforeEngine([&] {
        shot = ScreenRows();
        engineCalled = true;
    });
    std::u16string commandLine = line != nullptr ? testsupport::U16(line) : std::u16string();
    // The second start, once the first's engine has a window of its own up:
    // the same program again, a process of its own beside the first.
    std::thread second;
    platform::DWORD secondThread = 0;
    int secondCode = -1;
    bool secondRan = false;
    if (then != nullptr) {
        // Up means waiting for messages on the program's main thread, which
        // the launcher itself never does: by then the engine has made its
        // window, published its port and taken the splash down. A window
        // alone is too early: a relay could find no port yet.
        const platform::DWORD firstThread = sim::CallingThread();
        second = std::thread([&, firstThread] {
            secondThread = sim::CallingThread();
            bool up = Within(20, [firstThread] {
                for (const std::string& call : sim::CallLogOf(firstThread)) {
                    if (call.rfind("GetMessageW(", 0) == 0) return true;
                }
                return false;
            });
            if (!up) return;
            secondCode = SecondStart(program, testsupport::U16(then).c_str());
            secondRan = true;
        });
    }
    std::string error;
    int code = celoader::RunProgram(program, commandLine.c_str(), 1, &error);
    if (second.joinable()) second.join();
    if (code == -1 && !error.empty()) {
        std::fprintf(stderr, "celoader: %s\n", error.c_str());
        return 2;
    }
    if (!engineCalled) shot = ScreenRows();
    Transcript t = Collect(code, nullptr, secondThread);
    const char* mark = then != nullptr ? "1 " : "";
    for (const std::string& l : t) std::printf("%s%s\n", mark, l.c_str());
    if (then != nullptr) {
        std::printf("2 %s\n", secondRan ? ("exit " + std::to_string(secondCode)).c_str()
                                         : "not started: the first's engine did not wait for messages within 20 s");
        for (const std::string& call : sim::CallLogOf(secondThread)) std::printf("2 call %s\n", call.c_str());
    }
    std::fflush(stdout);
    if (!png.empty()) {
        std::string bytes;
        if (!stbi_write_png_to_func(AppendBytes, &bytes, g_screenWidth, g_screenHeight, 3, shot.data(),
                                    g_screenWidth * 3) ||
            !WriteFile(png, bytes)) {
            std::fprintf(stderr, "celoader: %s cannot be written\n", png.c_str());
            return 2;
        }
        if (!engineCalled) std::fprintf(stderr, "celoader: the engine was never called; %s shows the screen at the end\n", png.c_str());
    }
    sim::Reset();
    celoader::UnmapAll();
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "run") == 0) return RunOne(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "copies") == 0) return PrintCopies(argv[2]);
    bool show = false, faults = false, lenient = false, sample = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--align-wide-arguments") == 0) celoader::SetWideArgumentsAligned(true);
        else if (std::strcmp(argv[i], "--show") == 0) show = true;
        else if (std::strcmp(argv[i], "--faults") == 0) faults = true;
        else if (std::strcmp(argv[i], "--lenient") == 0) lenient = true;
        else if (std::strcmp(argv[i], "--engine") == 0 && i + 1 < argc) g_engine = argv[++i];
        else if (std::strcmp(argv[i], "--sample-engine") == 0 && i + 1 < argc) g_engine = argv[++i], sample = true;
        else if (std::strcmp(argv[i], "--copies") == 0 && i + 1 < argc) g_copies = argv[++i];
        else argc = 0;
    }
    if (argc < 2 || g_copies.empty()) {
        std::fprintf(stderr,
                     "usage: celoader WINCE_BUILD --copies DIR [--align-wide-arguments] [--show] [--engine DLL] [--faults] "
                     "[--lenient]\n"
                     "       celoader WINCE_BUILD --copies DIR --sample-engine DLL [--show]\n"
                     "       celoader copies DIR\n"
                     "       celoader run [--screen WxH] [--engine DLL] [--png FILE] EXE [LINE]\n");
        return 2;
    }
    g_build = argv[1];
    // Every Reset, in this process and in the planted faults' own, reads it.
    const char* asked = std::getenv("KEL_SIM_LENIENT");
    if (asked != nullptr && std::strcmp(asked, "1") == 0) lenient = true;
    if (lenient) setenv("KEL_SIM_LENIENT", "1", 1);
    if (g_engine.empty()) g_engine = g_build + "/celoader/Kel.dll";
    if (sample) return RunSampleEngine(show);
    std::string error;
    if (!MakeGarbled(&error)) {
        std::fprintf(stderr, "celoader: %s/%s: %s\n", g_copies.c_str(), kGarbled, error.c_str());
        return 2;
    }
    int differing = 0;
    std::vector<Transcript> hosts, devices;
    for (const Scenario& s : kScenarios) {
        Transcript host, device;
        if (!Run(s, false, &host) || !Run(s, true, &device)) return 2;
        bool same = host == device;
        differing += !same;
        std::printf("%s: %s (%s, %dx%d, %zu lines)\n", same ? "same" : "DIFFERENT", s.name,
                    s.copy != nullptr ? s.copy : "kel.exe", s.screenWidth, s.screenHeight, host.size());
        Compare(host, device, show);
        std::fflush(stdout);   // a crash in the next scenario keeps what came before
        hosts.push_back(host);
        devices.push_back(device);
    }
    size_t count = sizeof kScenarios / sizeof kScenarios[0];
    std::printf("%d of %zu scenarios differ between the device kel.exe and the host build\n", differing, count);
    if (differing != 0) return 1;
    if (!faults) return 0;
    std::vector<std::string> unnoticed = PlantFaults(hosts, devices, lenient);
    size_t planted = sizeof kFaults / sizeof kFaults[0];
    std::printf("%zu of %zu planted faults caught%s\n", planted - unnoticed.size(), planted,
                lenient ? " by the lenient simulation" : "");
    for (const std::string& name : unnoticed) std::printf("%s: %s\n", lenient ? "would pass again" : "unnoticed", name.c_str());
    // The lenient run shows what the strict simulation adds; only the strict one must see every fault.
    return unnoticed.empty() || lenient ? 0 : 1;
}
