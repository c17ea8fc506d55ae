// The launch sequence's argument-scan step on its own, for tests and
// benchmarks of the scan and the handoff: the pure scan of a command line,
// then the shell's handoff or relay.
#pragma once

#include "cmdline/handoff.h"
#include "cmdline/scan.h"

namespace testsupport {

inline int ScanAndHandOver(const char16_t* commandLine) {
    cmdline::ScanResult scan = cmdline::ScanCommandLine(commandLine);
    int result = cmdline::HandOver(scan);
    cmdline::FreeScan(&scan);
    return result;
}

}  // namespace testsupport
