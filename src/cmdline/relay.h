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
// The process-wide socket layer state; only the main thread touches it.
extern int32_t g_socketLayerState;

// Relays the argument after the relay option at position to the running
// engine; kStop when both the command and its newline were sent, else kGoOn.
ScanOutcome Relay(char16_t* const* arguments, int32_t position, int32_t count);

// The engine's "ServerPort" value, 0 when it is missing, unreadable or larger
// than 4 bytes; the key is created when missing. Its low 16 bits are the port.
uint32_t ReadServerPort();

// Starts the socket layer once; true while it is started.
bool StartSocketLayer();
// Shuts the socket layer down when a relay started it.
void StopSocketLayer();

}  // namespace cmdline
