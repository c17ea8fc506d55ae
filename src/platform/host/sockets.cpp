// Sockets: real POSIX sockets on loopback behind the winsock names.
#include "platform/host/world.h"

namespace sim::internal {
void ResetSockets() {}
}  // namespace sim::internal
