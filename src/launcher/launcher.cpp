#include "launcher/launcher.h"

#include "cmdline/merge.h"
#include "cmdline/relay.h"
#include "cmdline/scan.h"
#include "launcher/engine.h"
#include "shell/register.h"
#include "splash/window.h"
#include "trace/trace.h"

namespace launcher {

int Launch(platform::HINSTANCE instance, platform::HINSTANCE previous, const char16_t* commandLine, int show) {
    platform::HMODULE module = platform::GetModuleHandleW(nullptr);
    const char16_t* line = cmdline::MergeCommandLine(module, commandLine != nullptr ? commandLine : u"");

    shell::Registration registration = shell::RegistrationFor(line);
    if (registration != shell::Registration::kNone) {
        shell::RegisterFileType();
        if (registration == shell::Registration::kRegisterOnly) return 0;
    }

    if (cmdline::ArgumentScan(line) == cmdline::kStop) return 0;

    splash::ShowSplash(module, instance);

    platform::HMODULE engine = LoadEngineLibrary();
    if (engine == nullptr) {
        platform::MessageBoxW(nullptr, u"Could not find DLL: Kel.DLL", u"Error Loading DLL", platform::MB_OK);
        return 0;
    }
    auto entry = reinterpret_cast<KelMainWProc>(platform::GetProcAddressW(engine, u"KelMainW"));
    if (entry == nullptr) {
        // The process ends right away; the library is left to it.
        platform::MessageBoxW(nullptr, u"Could not find DLL entry routine \"KelMainW\"", u"Error Starting DLL",
                              platform::MB_OK);
        return 0;
    }

    trace::DebugTrace(u"Now running KelMainW() in dll");
    int32_t result = entry(instance, previous, line, show, platform::GetModuleHandleW(nullptr), engine);

    cmdline::StopSocketLayer();
    platform::FreeLibrary(engine);
    return result;
}

}  // namespace launcher
