// `kelpack show`: what a launcher copy or an installation cabinet carries,
// for people and for scripts.
#pragma once

#include <string>

#include "options.h"
#include "outcome.h"

namespace kelpack {

// What `kelpack show` is asked for.
struct ShowOptions {
    std::string file;   // a launcher copy, or a cabinet (told by its first bytes)
    bool json = false;  // one JSON object instead of text
};

// show's spec: its help, and how its arguments are read into its options.
const CommandSpec<ShowOptions>& ShowSpec();

// Reads the file; the outcome's output is its report, its warnings what a
// device or the launcher will not take.
Outcome RunShow(const ShowOptions& options);

}  // namespace kelpack
