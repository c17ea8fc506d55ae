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

char16_t* EnginePathInValue(char16_t* buffer, uint32_t bytesRead) {
    buffer[bytesRead / sizeof(char16_t)] = 0;
    if (buffer[0] != u'"') return buffer;
    int32_t length = text::WideLength(buffer);
    if (length > 1) buffer[length - 1] = 0;
    return buffer + 1;
}

}  // namespace launcher
