// `celoader run`: one CE program, such as a copy a packager made, started
// under the loader on a fresh simulation as the device would start it
// (README.md), with a second start beside it on request.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <stb_image_write.h>

#include "coredll.h"
#include "harness.h"
#include "sim.h"
#include "text_helpers.h"

namespace celoader {
namespace {

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
std::vector<uint8_t> ScreenRows(int width, int height) {
    std::vector<uint8_t> rows;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint32_t pixel = sim::ScreenPixel(x, y);
            rows.push_back(static_cast<uint8_t>(pixel >> 16));
            rows.push_back(static_cast<uint8_t>(pixel >> 8));
            rows.push_back(static_cast<uint8_t>(pixel));
        }
    }
    return rows;
}

}  // namespace

int RunOne(int argc, char** argv) {
    int width = 240, height = 320;
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
            if (std::sscanf(argv[at + 1], "%d%c%d%c", &width, &x, &height, &end) != 3 || x != 'x' ||
                width < 1 || height < 1 || width > 4096 || height > 4096) {
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
    sim::SetScreenSize(width, height);
    SetDeviceLibrary(u"\\Windows\\Kel.dll", engine);
    std::vector<uint8_t> shot;
    bool engineCalled = false;
    BeforeEngine([&] {
        shot = ScreenRows(width, height);
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
    int code = RunProgram(program, commandLine.c_str(), 1, &error);
    if (second.joinable()) second.join();
    if (code == -1 && !error.empty()) {
        std::fprintf(stderr, "celoader: %s\n", error.c_str());
        return 2;
    }
    if (!engineCalled) shot = ScreenRows(width, height);
    Folders none;
    Transcript t = Collect(Context{none}, code, nullptr, secondThread);
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
        if (!stbi_write_png_to_func(AppendBytes, &bytes, width, height, 3, shot.data(), width * 3) ||
            !WriteFile(png, bytes)) {
            std::fprintf(stderr, "celoader: %s cannot be written\n", png.c_str());
            return 2;
        }
        if (!engineCalled) std::fprintf(stderr, "celoader: the engine was never called; %s shows the screen at the end\n", png.c_str());
    }
    sim::Reset();
    UnmapAll();
    return code;
}

}  // namespace celoader
