// A launcher copy laid out in one buffer: what the tests compare and read
// back, where kelpack itself streams the planned image into its output file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kelpack/pe_write.h"

namespace kelpack {

// PlanResources, FinishChecksum and EmitImage into `out`.
inline bool LayOutResources(const PeImage& image, const ResourceList& list, std::vector<std::uint8_t>* out,
                           RsrcPlacement* placement, std::vector<std::string>* warnings, std::string* error) {
    PlannedImage plan;
    if (!PlanResources(image, list, &plan, placement, warnings, error) || !FinishChecksum(&plan, error)) return false;
    out->clear();
    out->reserve(static_cast<std::size_t>(plan.fileSize));
    ByteSink append = [&](const std::uint8_t* data, std::size_t size) {
        out->insert(out->end(), data, data + size);
        return true;
    };
    return EmitImage(plan, append, error);
}

}  // namespace kelpack
