// The launch sequence's argument-scan step on its own, for tests and fuzz
// targets of the scan carried out: the pure scan of a command line, then the
// shell's relay or activation of a running instance.
#pragma once

#include "cmdline/handoff.h"
#include "cmdline/scan.h"

namespace testsupport {

inline cmdline::ScanOutcome ScanAndRelayOrActivate(const char16_t* commandLine) {
    cmdline::ScanResult scan = cmdline::ScanCommandLine(commandLine);
    cmdline::ScanOutcome result = cmdline::RelayOrActivate(scan);
    cmdline::FreeScan(&scan);
    return result;
}

}  // namespace testsupport
