#include "launcher/launcher.h"

#include "cmdline/handoff.h"
#include "cmdline/relay.h"
#include "contract/kel.h"
#include "launcher/engine.h"
#include "launcher/plan.h"
#include "platform/resources.h"
#include "filetype/register.h"
#include "splash/show.h"
#include "trace/trace.h"

namespace launcher {

namespace {

// Ends a start that never reaches the engine.
int EndWithoutEngine(StartPlan* plan) {
    FreeStartPlan(plan);
    return 0;
}

}  // namespace

int Launch(platform::HINSTANCE instance, platform::HINSTANCE previous, const char16_t* commandLine, int show) {
    platform::HMODULE module = platform::GetModuleHandleW(NULL);
    uint32_t size = 0;
    const void* embedded =
        platform::LoadResourceBytes(module, kel::kCommandLineResourceName, kel::kTextResourceType, &size);
    StartPlan plan = PlanStart(static_cast<const char*>(embedded), size, commandLine != NULL ? commandLine : u"");

    if (plan.registration != filetype::Registration::kNone) {
        filetype::RegisterFileType();
        if (plan.registration == filetype::Registration::kRegisterOnly) return EndWithoutEngine(&plan);
    }

    if (cmdline::RelayOrActivate(plan.scan) == cmdline::ScanOutcome::kStop) return EndWithoutEngine(&plan);

    splash::ShowSplash(module, instance);

    platform::HMODULE engine = LoadEngineLibrary();
    if (engine == NULL) {
        platform::MessageBoxW(NULL, kNoEngineText, kNoEngineCaption, platform::MB_OK);
        return EndWithoutEngine(&plan);
    }
    auto entry = reinterpret_cast<kel::KelMainWProc>(platform::GetProcAddressW(engine, kel::kEntryName));
    if (entry == NULL) {
        // The process ends right away; the library is left to it.
        platform::MessageBoxW(NULL, kNoEntryText, kNoEntryCaption, platform::MB_OK);
        return EndWithoutEngine(&plan);
    }

    // The engine is handed the line for the rest of the process and may keep it.
    char16_t* line = TakeCommandLine(&plan);
    FreeStartPlan(&plan);
    trace::DebugTrace(u"Now running KelMainW() in dll");
    int32_t result = entry(instance, previous, line, show, platform::GetModuleHandleW(NULL), engine);

    cmdline::StopSocketLayer();
    platform::FreeLibrary(engine);
    return result;
}

}  // namespace launcher
