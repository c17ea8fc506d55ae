// The command relay to a running engine over loopback TCP, and the socket layer it starts.
#pragma once

namespace cmdline {

// Shuts the socket layer down when a relay started it.
void StopSocketLayer();

}  // namespace cmdline
