// The argument scan's outcome carried out: a second start hands over to the
// running instance of its application, or relays its command to a running
// engine, and ends there.
#pragma once

#include "cmdline/scan.h"

namespace cmdline {

// What carrying the scan out decided.
// (Unscoped: the device compiler cannot compare scoped enumerations; the
// enumerators are still written qualified, Name::kValue.)
enum ScanOutcome {
    kStop,   // a running instance was activated, or the command was relayed: the start ends here
    kGoOn,   // the start goes on to the engine
};

// Brings a running window of class target forward and posts it the activation
// message; false when no such window exists.
bool ActivateRunningInstance(const char16_t* target);

// Relays the command when the scan met the relay option, else activates a
// running instance of the target.
ScanOutcome RelayOrActivate(const ScanResult& scan);

}  // namespace cmdline
