// Windows CE ARM images (programs and libraries) mapped into this process,
// so that their own machine code runs here under qemu-arm.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace celoader {

// A mapped image.
struct Image {
    std::string path;
    uint32_t base = 0;                         // where it is mapped
    uint32_t size = 0;
    uint32_t entry = 0;                        // the entry point's address, 0 when it has none
    bool library = false;
    std::map<std::string, uint32_t> exports;   // exported name -> address
};

// The address an import resolves to, or 0 when there is none: the mapping
// then fails with the import's name. A name-less import is "#ordinal".
using Resolver = std::function<uint32_t(const std::string& dll, const std::string& name)>;

// Maps a file at its preferred base (elsewhere, relocated, when that is
// taken) and resolves its imports. False, with the reason in *error, when the
// file is no CE ARM image or an import is unknown.
bool MapImage(const std::string& path, const Resolver& resolve, Image* image, std::string* error);
void UnmapImage(const Image& image);
// The base an image file asks to be mapped at, or 0 when it is no PE file.
uint32_t PreferredBase(const std::string& path);

}  // namespace celoader
