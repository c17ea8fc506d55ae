#include "cmdline/handoff.h"

#include "cmdline/relay.h"
#include "contract/kel.h"
#include "platform/platform.h"

namespace cmdline {

bool ActivateRunningInstance(const char16_t* target) {
    platform::HWND window = platform::FindWindowW(target, NULL);
    if (window == NULL) return false;
    // Neither result matters: the instance exists, and a second one must not start.
    platform::SetForegroundWindow(window);
    platform::PostMessageW(window, kel::kActivationMessage, 0, 0);
    return true;
}

ScanOutcome RelayOrActivate(const ScanResult& scan) {
    if (scan.kind == ScanKind::kRelay) return Relay(scan.relayMessage, scan.relayMessageLength);
    return ActivateRunningInstance(scan.target) ? ScanOutcome::kStop : ScanOutcome::kGoOn;
}

}  // namespace cmdline
