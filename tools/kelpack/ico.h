// Icon files (.ico) and the icon group resource made from them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "resources.h"

namespace kelpack {

// One image of an icon file.
struct IconImage {
    std::uint8_t width = 0;        // 0 means 256
    std::uint8_t height = 0;       // 0 means 256
    std::uint8_t colors = 0;       // palette size, 0 for 256 or more
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::vector<std::uint8_t> data;  // a DIB without file header, or a PNG
};

// Parses an icon file; false with the reason for anything else.
bool ParseIco(const std::vector<std::uint8_t>& bytes, std::vector<IconImage>* images, std::string* error);

// Puts icon group `groupId` (RT_GROUP_ICON) and its images (RT_ICON) into
// `list`. The images of a group of that id already there are removed first,
// unless another group still uses them; the new images take the lowest free
// RT_ICON ids.
void PutIconGroup(ResourceList* list, std::uint32_t groupId, const std::vector<IconImage>& images);

}  // namespace kelpack
