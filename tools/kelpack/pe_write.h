// Writing a resource tree back into a PE image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pe.h"
#include "resources.h"

namespace kelpack {

// Lays out `list` as the contents of a resource section that will be mapped
// at `rva`: directory tables, data entries, length-prefixed UTF-16 names and
// the data, each blob on an 8-byte boundary. Leaves need not be sorted.
std::vector<std::uint8_t> BuildResourceSection(ResourceList list, std::uint32_t rva);

// Where the new resources went, for messages and tests.
enum class RsrcPlacement {
    kNone,             // no resources left: the directory entry was cleared
    kReplacedLast,     // the old resource section was last and was rewritten
    kReusedInPlace,    // the old resource section was big enough and was rewritten
    kAppended,         // a new last section ".rsrc" was added
};

// Builds a new image from `image` that carries `list` as its resources, and
// updates the data directory, section table, SizeOfImage,
// SizeOfInitializedData and checksum. A signature (certificate table) is
// dropped, since it no longer matches, and `warnings` says so. Returns false
// with the reason when the image has no room for the resources.
bool WriteResources(const PeImage& image, const ResourceList& list, std::vector<std::uint8_t>* out,
                    RsrcPlacement* placement, std::vector<std::string>* warnings, std::string* error);

// Reads `bytes` back as an image just written with `written` as its
// resources: it must parse, carry the same leaves (names compared as the
// loader compares them, since the writer keeps one spelling for names that
// differ in case only) and hold the checksum the loader computes. Returns
// false with the reason otherwise.
bool CheckWrittenImage(const std::vector<std::uint8_t>& bytes, ResourceList written, std::string* error);

}  // namespace kelpack
