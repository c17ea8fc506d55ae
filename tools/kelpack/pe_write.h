// Writing a resource tree back into a PE image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fileio.h"
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

// One piece of an image to be written: held bytes, a stretch of a file
// (a leaf whose bytes stay in their file), or a run of zeros.
struct ImagePiece {
    std::vector<std::uint8_t> bytes;
    LeafSource file;          // when file.external, these bytes of that file
    std::uint64_t zeros = 0;  // when not 0, that many zero bytes
};

// An image laid out but not yet written, in file order. Only the leaves'
// sizes were needed to lay it out, so its sizes are known before any large
// leaf is read.
struct PlannedImage {
    std::vector<ImagePiece> pieces;  // the first holds the headers
    std::uint64_t fileSize = 0;
    std::uint32_t sizeOfImage = 0;   // the address space the loader reserves for it
    std::uint32_t checksumOffset = 0;
};

// Lays out a new image from `image` that carries `list` as its resources, and
// updates the data directory, section table, SizeOfImage and
// SizeOfInitializedData. A signature (certificate table) is dropped, since it
// no longer matches, and `warnings` says so. Returns false with the reason
// when the image has no room for the resources. The checksum is left to
// FinishChecksum.
bool PlanResources(const PeImage& image, const ResourceList& list, PlannedImage* plan, RsrcPlacement* placement,
                   std::vector<std::string>* warnings, std::string* error);

// Reads the planned bytes once, files included, and writes the checksum the
// loader verifies into the headers. False with the reason when a file fails.
bool FinishChecksum(PlannedImage* plan, std::string* error);

// Hands the planned bytes to `sink` in order, copying the files' stretches a
// piece at a time. False when a file fails (with the reason) or the sink does.
bool EmitImage(const PlannedImage& plan, const ByteSink& sink, std::string* error);

// Reads `bytes` back as an image just written with `written` as its
// resources: it must parse, carry the same leaves (names compared as the
// loader compares them, since the writer keeps one spelling for names that
// differ in case only; a leaf kept in a file is compared with that file)
// and hold the checksum the loader computes. Returns false with the reason
// otherwise. The bytes are taken, not copied.
bool CheckWrittenImage(std::vector<std::uint8_t> bytes, const ResourceList& written, std::string* error);

}  // namespace kelpack
