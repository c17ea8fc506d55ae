// Shared internals of the simulation's pieces; not for tests (they use sim.h).
#pragma once

#include <mutex>
#include <string>

#include "platform/host/sim.h"

namespace sim::internal {

// The one lock over the simulated world; recursive, since window procedures
// call back into the simulation while a dispatch holds it.
std::recursive_mutex& Mutex();

// ASCII upper-casing, the way the platform folds resource, key and class names.
std::u16string Upper(const std::u16string& s);
// A name argument as text: an integer id below 0x10000 becomes "#id"; null becomes "".
std::u16string NameText(const char16_t* name);

// Each piece of the world forgets its state; Reset calls them all.
void ResetModules();
void ResetRegistry();
void ResetWindows();
void ResetSockets();

}  // namespace sim::internal
