// `kelpack pack`: a launcher copy that carries an application. The options
// come read and checked from pack_options.h; the run builds a plan of what
// the copy carries, step by step, and writes it through an Output
// (output.h), telling what it did in an Outcome (outcome.h).
#pragma once

#include <cstdint>

#include "picture.h"
#include "outcome.h"
#include "pack_options.h"

namespace kelpack {

// The largest picture file kelpack reads: the most pixels it decodes
// (kMaxPicturePixels) at 8 bytes each, 16-bit RGBA stored plainly, and room
// for the headers. Larger files are refused before they are read.
constexpr std::uint64_t kMaxPictureFileBytes = kMaxPicturePixels * 8 + (std::uint64_t{1} << 20);

// Reads, checks, and writes the output; nothing is written unless every
// check passed. The outcome's output is the one line that says what was
// written.
Outcome RunPack(const PackOptions& options);

}  // namespace kelpack
