// celoader: the device kel.exe, its own ARM code, run under qemu-arm on the
// simulation beside the host build of the same launcher (README.md).
//
//   celoader WINCE_BUILD --copies DIR [--align-wide-arguments] [--show] [--engine DLL] [--faults]
//   celoader WINCE_BUILD --copies DIR --sample-engine DLL [--show]
//   celoader copies DIR
//   celoader run [--screen WxH] [--engine DLL] [--png FILE] EXE [LINE] [--then LINE2]
//
// WINCE_BUILD is the wince-arm build folder: its bin/kel.exe runs, and its
// celoader/Kel.dll (or DLL) is the engine the device launcher loads. DIR holds
// the copies. --show prints every transcript; --faults then plants each fault
// of the fault table in turn and names the scenario that caught it and the
// line that showed it. Exit: 0 all agree (and every fault was caught by the
// line its table names), 1 a difference (or a fault unnoticed or caught by
// another line), 2 a run could not start, 3 the device code called for
// something the loader lacks.
//
// `copies DIR` writes the pictures the copies are packed from into DIR and
// prints, one line per copy, its file name and the options of `kelpack pack`
// that make it, separated by 0x1F; run.sh packs them with the host kelpack.
#include <cstdio>
#include <cstring>
#include <string>

#include "coredll.h"
#include "harness.h"

int main(int argc, char** argv) {
    using namespace celoader;
    if (argc >= 2 && std::strcmp(argv[1], "run") == 0) return RunOne(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "copies") == 0) return PrintCopies(argv[2]);
    Folders folders;
    bool show = false, faults = false, sample = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--align-wide-arguments") == 0) SetWideArgumentsAligned(true);
        else if (std::strcmp(argv[i], "--show") == 0) show = true;
        else if (std::strcmp(argv[i], "--faults") == 0) faults = true;
        else if (std::strcmp(argv[i], "--engine") == 0 && i + 1 < argc) folders.engine = argv[++i];
        else if (std::strcmp(argv[i], "--sample-engine") == 0 && i + 1 < argc) folders.engine = argv[++i], sample = true;
        else if (std::strcmp(argv[i], "--copies") == 0 && i + 1 < argc) folders.copies = argv[++i];
        else argc = 0;
    }
    if (argc < 2 || folders.copies.empty()) {
        std::fprintf(stderr,
                     "usage: celoader WINCE_BUILD --copies DIR [--align-wide-arguments] [--show] [--engine DLL] [--faults]\n"
                     "       celoader WINCE_BUILD --copies DIR --sample-engine DLL [--show]\n"
                     "       celoader copies DIR\n"
                     "       celoader run [--screen WxH] [--engine DLL] [--png FILE] EXE [LINE]\n");
        return 2;
    }
    folders.build = argv[1];
    if (folders.engine.empty()) folders.engine = folders.build + "/celoader/Kel.dll";
    if (sample) return RunSampleEngine(folders, show);
    return RunScenarios(folders, show, faults);
}
