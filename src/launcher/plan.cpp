#include "launcher/plan.h"

#include <cstdlib>

#include "cmdline/merge.h"
#include "text/text.h"

namespace launcher {

StartPlan PlanStart(const char* commandLineResource, uint32_t resourceSize, const char16_t* userCommandLine) {
    StartPlan plan = StartPlan();
    plan.commandLine = cmdline::MergeCommandLine(commandLineResource, resourceSize, userCommandLine);
    plan.registration = filetype::RegistrationFor(plan.commandLine);
    plan.scanned = plan.registration != filetype::Registration::kRegisterOnly;
    if (plan.scanned) plan.scan = cmdline::ScanCommandLine(plan.commandLine);
    return plan;
}

void FreeStartPlan(StartPlan* plan) {
    if (plan->scanned) cmdline::FreeScan(&plan->scan);
    plan->scanned = false;
    std::free(plan->commandLine);
    plan->commandLine = NULL;
}

char16_t* TakeCommandLine(StartPlan* plan) {
    char16_t* line = plan->commandLine;
    plan->commandLine = NULL;
    return line;
}

char16_t* EnginePathInValue(char16_t* value) {
    if (value[0] != u'"') return value;
    int32_t length = text::WideLength(value);
    if (length > 1) value[length - 1] = 0;
    return value + 1;
}

}  // namespace launcher
