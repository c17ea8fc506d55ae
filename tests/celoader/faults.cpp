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

}  // namespace

int PlantFaults(const std::vector<std::string>& names, const std::vector<Transcript>& host,
                const std::vector<Transcript>& device, const std::function<Transcript(size_t)>& runDevice,
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
            Transcript planted = InChild([&] {
                PlantFault(&fault);
                return runDevice(i);
            });
            if (planted == host[i]) continue;
            size_t line = 0;
            while (line < planted.size() && line < host[i].size() && planted[line] == host[i][line]) ++line;
            caughtBy = names[i] + ": " + (line < planted.size() ? planted[line] : "<none>");
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
    size_t planted = sizeof kFaults / sizeof kFaults[0];
    std::printf("%zu of %zu planted faults caught%s\n", planted - unnoticed.size(), planted,
                lenient ? " by the lenient simulation" : "");
    for (const std::string& name : unnoticed) std::printf("%s: %s\n", lenient ? "would pass again" : "unnoticed", name.c_str());
    // The lenient run shows what the strict simulation adds; only the strict one must see every fault.
    return unnoticed.empty() || lenient ? 0 : 1;
}

}  // namespace celoader
