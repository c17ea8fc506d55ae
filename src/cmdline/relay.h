// The command relay: one line handed to a running engine over a TCP
// connection to the local host, on the port the engine keeps in the
// registry; and the socket layer, started at most once per process.
#pragma once

#include <cstdint>

#include "cmdline/handoff.h"
#include "cmdline/scan.h"
#include "platform/platform.h"

namespace cmdline {

// How long closing the relay's socket may wait for unsent bytes, in seconds.
const uint16_t kRelayLingerSeconds = 5;

// Socket layer states.
const int32_t kSocketLayerNotStarted = 0;
const int32_t kSocketLayerStarted = 1;
const int32_t kSocketLayerFailed = -1;   // the start is never tried again

// Sends a scan's relay message (null: no argument followed the option) to
// the running engine; kStop when both the command and its newline were sent,
// else kGoOn. The port is read first, whether or not there is a message.
ScanOutcome Relay(const char* message, int32_t length);

// The engine's "ServerPort" value (ServerPortFromValue), 0 when it is missing
// or unreadable; the key is created when missing, so that it exists for the
// engine even when this start has nothing to relay.
uint32_t ReadServerPort();

// Starts the socket layer once; true while it is started.
bool StartSocketLayer();
// Shuts the socket layer down when a relay started it.
void StopSocketLayer();

}  // namespace cmdline
