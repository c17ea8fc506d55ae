#include "launcher/launcher.h"

#include <cstdlib>

#include "cmdline/merge.h"
#include "cmdline/relay.h"
#include "cmdline/scan.h"
#include "contract/kel.h"
#include "launcher/engine.h"
#include "shell/register.h"
#include "splash/window.h"
#include "trace/trace.h"

namespace launcher {

namespace {

// Ends a start that never reaches the engine. A merged line of the
// launcher's own making is given back; the engine, once entered, is handed
// the line for the rest of the process and may keep it.
int EndWithoutEngine(const char16_t* line, const char16_t* userLine) {
    if (line != userLine) std::free(const_cast<char16_t*>(line));
    return 0;
}

}  // namespace

int Launch(platform::HINSTANCE instance, platform::HINSTANCE previous, const char16_t* commandLine, int show) {
    platform::HMODULE module = platform::GetModuleHandleW(nullptr);
    const char16_t* userLine = commandLine != nullptr ? commandLine : u"";
    const char16_t* line = cmdline::MergeCommandLine(module, userLine);

    shell::Registration registration = shell::RegistrationFor(line);
    if (registration != shell::Registration::kNone) {
        shell::RegisterFileType();
        if (registration == shell::Registration::kRegisterOnly) return EndWithoutEngine(line, userLine);
    }

    if (cmdline::ArgumentScan(line) == cmdline::kStop) return EndWithoutEngine(line, userLine);

    splash::ShowSplash(module, instance);

    platform::HMODULE engine = LoadEngineLibrary();
    if (engine == nullptr) {
        platform::MessageBoxW(nullptr, u"Could not find DLL: Kel.DLL", u"Error Loading DLL", platform::MB_OK);
        return EndWithoutEngine(line, userLine);
    }
    auto entry = reinterpret_cast<kel::KelMainWProc>(platform::GetProcAddressW(engine, kel::kEntryName));
    if (entry == nullptr) {
        // The process ends right away; the library is left to it.
        platform::MessageBoxW(nullptr, u"Could not find DLL entry routine \"KelMainW\"", u"Error Starting DLL",
                              platform::MB_OK);
        return EndWithoutEngine(line, userLine);
    }

    trace::DebugTrace(u"Now running KelMainW() in dll");
    int32_t result = entry(instance, previous, line, show, platform::GetModuleHandleW(nullptr), engine);

    cmdline::StopSocketLayer();
    platform::FreeLibrary(engine);
    return result;
}

}  // namespace launcher
