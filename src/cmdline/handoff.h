// The argument scan's outcome carried out: a second start hands over to the
// running instance of its application, or relays its command to a running
// engine, and ends there.
#pragma once

#include "cmdline/scan.h"

namespace cmdline {

// Brings a running window of class target forward and posts it the activation
// message; false when no such window exists.
bool Handoff(const char16_t* target);

// Relays the command when the scan met the relay option, else hands over to a
// running instance of the target; kStop when the start ends here, else kGoOn.
int HandOver(const ScanResult& scan);

}  // namespace cmdline
