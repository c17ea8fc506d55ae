// Planted faults: each corrupts one argument of one COREDLL function in the
// loader's thunks, on the device side only, and must make a scenario's
// device run differ from its host run.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "coredll.h"
#include "harness.h"

namespace celoader {

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

namespace {

// A fault and the line by which it must be caught: the first line of the
// planted run that differs from the host run must begin with `line` and
// show `shows` (a thread's calls are matched without their "thread N "). A
// fault seen first by any other line is a fault the comparison caught by
// chance, and fails the run. Some values the device takes and ignores (CE
// has no volatile keys, no access checks, and takes a stack size for its
// threads as a hint): nothing a user sees changes, and only the call log
// shows them.
struct Planted {
    Fault fault;
    const char* line;
    const char* shows;
    bool deviceIgnores;
};

// Words of each call's arguments, as the device passes them.
const Planted kFaults[] = {
    // CreateWindowExW(exStyle, class, title, style, x, y, width, height, parent, menu, instance, parameter)
    {{"CreateWindowExW with WS_EX_TOPMOST", "CreateWindowExW", [](uint32_t* w) { w[0] |= 0x00000008; }},
     "call CreateWindowExW(0x8, ", "", false},
    {{"CreateWindowExW with WS_CAPTION", "CreateWindowExW", [](uint32_t* w) { w[3] |= 0x00C00000; }},
     "call CreateWindowExW(", ", 0x90c00000, ", false},
    {{"CreateWindowExW of another instance", "CreateWindowExW", [](uint32_t* w) { w[10] += 0x10000; }},
     "screen ", "centre 3a6ea5", false},
    {{"CreateWindowExW with a parent", "CreateWindowExW", [](uint32_t* w) { w[8] = 0x0BAD0010; }},
     "screen ", "centre 3a6ea5", false},
    {{"CreateWindowExW with width and height swapped", "CreateWindowExW", [](uint32_t* w) { std::swap(w[6], w[7]); }},
     "screen ", "", false},
    // CreateThread(attributes, stack size, routine, parameter, flags, id)
    {{"CreateThread with CREATE_SUSPENDED", "CreateThread", [](uint32_t* w) { w[4] |= 0x00000004; }},
     "screen ", "centre 3a6ea5", false},
    {{"CreateThread with a stack of 64 MiB", "CreateThread", [](uint32_t* w) { w[1] = 64u << 20; }},
     "call CreateThread(null, 67108864, ", "", true},
    // RegCreateKeyExW(key, subkey, reserved, class, options, access, attributes, result, disposition)
    {{"RegCreateKeyExW with REG_OPTION_VOLATILE", "RegCreateKeyExW", [](uint32_t* w) { w[4] = 1; }},
     "call RegCreateKeyExW(", ", null, 0x1, 0x0, ", true},
    {{"RegCreateKeyExW with KEY_ALL_ACCESS", "RegCreateKeyExW", [](uint32_t* w) { w[5] = 0x000F003F; }},
     "call RegCreateKeyExW(", ", 0xf003f, ", true},
    {{"RegCreateKeyExW with reserved set", "RegCreateKeyExW", [](uint32_t* w) { w[2] = 1; }},
     "HKCR\\", "= missing", false},
    // BitBlt(dc, x, y, width, height, source, source x, source y, raster operation)
    {{"BitBlt with BLACKNESS", "BitBlt", [](uint32_t* w) { w[8] = 0x00000042; }}, "screen ", "centre 000000", false},
    // CreateDIBSection(dc, info, usage, bits, section, offset)
    {{"CreateDIBSection with DIB_PAL_COLORS", "CreateDIBSection", [](uint32_t* w) { w[2] = 1; }},
     "call CreateDIBSection(", ", 1, ptr, null, 0)", false},
    {{"CreateDIBSection with a section handle", "CreateDIBSection", [](uint32_t* w) { w[4] = 0x0BAD0020; }},
     "screen ", "centre 3a6ea5", false},
    // CreateEventW(attributes, manual reset, initial state, name)
    {{"CreateEventW manual-reset", "CreateEventW", [](uint32_t* w) { w[1] = 1; }}, "call CreateEventW(null, 1, ", "",
     false},
    {{"CreateEventW already signalled", "CreateEventW", [](uint32_t* w) { w[2] = 1; }},
     "engine loaded after the first paint: no", "", false},
    // WaitForSingleObject(object, milliseconds)
    {{"WaitForSingleObject without waiting", "WaitForSingleObject", [](uint32_t* w) { w[1] = 0; }},
     "engine loaded after the first paint: no", "", false},
    // SetForegroundWindow(window)
    {{"SetForegroundWindow of no window", "SetForegroundWindow", [](uint32_t* w) { w[0] = 0; }},
     "foreground is the running instance: no", "", false},
    // PostMessageW(window, message, wParam, lParam)
    {{"PostMessageW of the next message", "PostMessageW", [](uint32_t* w) { w[1] += 1; }}, "posted 1039 ", "", false},
    // RegSetValueExW(key, name, reserved, type, data, size)
    {{"RegSetValueExW of another type", "RegSetValueExW", [](uint32_t* w) { w[3] = w[3] == 1 ? 2 : 1; }},
     "HKCR\\KelFile10 = 2:", "", false},
    {{"RegSetValueExW two bytes short", "RegSetValueExW", [](uint32_t* w) { w[5] -= 2; }},
     "HKCR\\KelFile10 = 1:", "", false},
};

// A line as the table names it: a thread's calls without their "thread N ".
std::string Unthreaded(const std::string& line) {
    if (line.rfind("thread ", 0) != 0) return line;
    size_t space = line.find(' ', 7);
    return space == std::string::npos ? line : line.substr(space + 1);
}

bool Named(const Planted& p, const std::string& line) {
    std::string bare = Unthreaded(line);
    return bare.rfind(p.line, 0) == 0 && bare.find(p.shows) != std::string::npos;
}

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

}  // namespace

int PlantFaults(const std::vector<std::string>& names, const std::vector<Transcript>& host,
                const std::vector<Transcript>& device, const std::function<Transcript(size_t)>& runDevice) {
    std::printf("\nplanted faults: each must make a scenario's device run differ from its host run, first by the line"
                " it names\n");
    std::vector<std::string> failed;
    for (const Planted& p : kFaults) {
        const Fault& fault = p.fault;
        std::string scenario, first;
        int tried = 0;
        for (size_t i = 0; i < host.size() && scenario.empty(); ++i) {
            if (!Calls(device[i], fault.function)) continue;
            ++tried;
            Transcript planted = InChild([&] {
                PlantFault(&fault);
                return runDevice(i);
            });
            if (planted == host[i]) continue;
            size_t line = 0;
            while (line < planted.size() && line < host[i].size() && planted[line] == host[i][line]) ++line;
            scenario = names[i];
            first = line < planted.size() ? planted[line] : "<none>";
        }
        std::string named = std::string(p.line) + (*p.shows != 0 ? "..." + std::string(p.shows) : "");
        const char* verdict = "caught";
        if (scenario.empty()) {
            verdict = "UNNOTICED";
            first = "(" + std::to_string(tried) + " scenarios call " + fault.function + "; none differed)";
        } else if (!Named(p, first)) {
            verdict = "ELSEWHERE";
        }
        if (std::string(verdict) != "caught") failed.push_back(std::string(fault.name) + " (" + verdict + ")");
        std::printf("  %-9s %-46s names %s%s\n            -> %s%s\n", verdict, fault.name, named.c_str(),
                    p.deviceIgnores ? "  [the device ignores it: the log alone shows it]" : "",
                    scenario.empty() ? "" : (scenario + ": ").c_str(), first.substr(0, 150).c_str());
        std::fflush(stdout);
    }
    size_t count = sizeof kFaults / sizeof kFaults[0], ignored = 0;
    for (const Planted& p : kFaults) ignored += p.deviceIgnores;
    std::printf("%zu of %zu planted faults caught by the line they name (%zu of them values the device ignores, seen in"
                " the call log alone)\n", count - failed.size(), count, ignored);
    for (const std::string& name : failed) std::printf("not caught as named: %s\n", name.c_str());
    return failed.empty() ? 0 : 1;
}

}  // namespace celoader
