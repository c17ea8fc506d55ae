// The launcher's process-wide records, named for the tests alone: a test
// that runs the shells many times in one process puts them back as a new
// process has them, and reads them where a case is about them. The
// launcher's own headers leave them out; relay.cpp and show.cpp define them.
#pragma once

#include <cstdint>

#include "cmdline/relay.h"
#include "splash/show.h"

namespace cmdline {
// One of kSocketLayerNotStarted, kSocketLayerStarted, kSocketLayerFailed.
extern int32_t g_socketLayerState;
}  // namespace cmdline

namespace splash {
// What ShowSplash hands the splash thread.
extern SplashState theSplash;
}  // namespace splash
