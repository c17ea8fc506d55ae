// The argument scan: the target name of the application and the handoff to a running instance.
#pragma once

namespace cmdline {

// Scan results.
constexpr int kStop = 0;
constexpr int kGoOn = 1;

// Derives the target name, hands over to a running instance or relays; kStop or kGoOn.
int ArgumentScan(const char16_t* commandLine);

}  // namespace cmdline
