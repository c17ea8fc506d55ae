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
    bool png = false;                // the image is PNG-compressed
};

// The sides, in pixels, of the icons made from a picture, and their depths:
// the sizes a device's shell asks for (small and large icons, and the large
// ones of high-resolution screens), at 16 and 256 colours and 32 bits.
constexpr std::uint8_t kIconSides[] = {16, 32, 48};
constexpr std::uint16_t kIconDepths[] = {4, 8, 32};

// Parses an icon file; false with the reason for anything else.
bool ParseIco(const std::vector<std::uint8_t>& bytes, std::vector<IconImage>* images, std::string* error);

// Makes the images of an icon group from a picture (`rgb` as a Picture's,
// `alpha` one opacity a pixel): each side of kIconSides at each depth of
// kIconDepths, the picture scaled to fit the square and centred on it, its
// transparent pixels masked. `note` tells what the images are.
std::vector<IconImage> MakeIconImages(std::int32_t width, std::int32_t height, const std::vector<std::uint8_t>& rgb,
                                      const std::vector<std::uint8_t>& alpha, std::string* note);

// The icon images `--icon FILE` packs: an icon file's own images (each
// PNG-compressed one, which the device's shell cannot draw, with a warning),
// or those made from a picture kelpack reads. False with the reason.
bool LoadIcon(const std::vector<std::uint8_t>& bytes, std::vector<IconImage>* images, std::vector<std::string>* warnings,
              std::string* note, std::string* error);

// Puts icon group `groupId` (RT_GROUP_ICON) and its images (RT_ICON) into
// `list`. The images of a group of that id already there are removed first,
// unless another group still uses them; the new images take the lowest free
// RT_ICON ids.
void PutIconGroup(ResourceList* list, std::uint32_t groupId, const std::vector<IconImage>& images);

}  // namespace kelpack
