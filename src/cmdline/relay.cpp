#include "cmdline/relay.h"

namespace cmdline {

void StopSocketLayer() {}

}  // namespace cmdline
