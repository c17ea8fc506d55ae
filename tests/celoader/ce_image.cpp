// The PE mapping: headers and sections copied into one read-write-execute
// block, base relocations applied, imports bound through the resolver.
#include "ce_image.h"

#include <sys/mman.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "kelpack/pe.h"

namespace celoader {
namespace {

using kelpack::kFileDll;
using kelpack::kMachineArm;
using kelpack::kMachineArmThumb;
constexpr uint16_t kOptionalMagic32 = 0x010B;
constexpr int kRelocationAbsolute = 0;
constexpr int kRelocationHighLow = 3;
constexpr int kExportDirectory = 0;
constexpr int kImportDirectory = 1;
constexpr int kRelocationDirectory = 5;

uint32_t Read32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

bool Fail(std::string* error, const std::string& path, const std::string& why) {
    *error = path + ": " + why;
    return false;
}

}  // namespace

bool MapImage(const std::string& path, const Resolver& resolve, Image* image, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Fail(error, path, "cannot be read");
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') return Fail(error, path, "not a PE file");
    uint32_t pe = Read32(&file[0x3C]);
    if (file.size() < 24 + 96 || pe > file.size() - 24 - 96 || std::memcmp(&file[pe], "PE\0\0", 4) != 0)
        return Fail(error, path, "not a PE file");
    const uint8_t* header = &file[pe + 4];
    uint16_t machine = Read16(header);
    if (machine != kMachineArm && machine != kMachineArmThumb) return Fail(error, path, "not an ARM image");
    uint16_t sections = Read16(header + 2);
    uint16_t optionalSize = Read16(header + 16);
    const uint8_t* optional = header + 20;
    if (Read16(optional) != kOptionalMagic32) return Fail(error, path, "not a 32-bit image");
    uint32_t entry = Read32(optional + 16);
    uint32_t preferred = Read32(optional + 28);
    uint32_t size = Read32(optional + 56);
    uint32_t headersSize = Read32(optional + 60);
    const uint8_t* directory = optional + 96;
    const uint8_t* sectionTable = optional + optionalSize;
    if (sectionTable + sections * 40 > file.data() + file.size() || headersSize > file.size() || headersSize > size)
        return Fail(error, path, "truncated headers");

    // The preferred base first. qemu-arm takes MAP_FIXED_NOREPLACE as a mere
    // hint, so the address given back is what counts.
    const int protection = PROT_READ | PROT_WRITE | PROT_EXEC;
    void* want = reinterpret_cast<void*>(static_cast<uintptr_t>(preferred));
    void* got = mmap(want, size, protection, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (got != MAP_FAILED && got != want) {
        munmap(got, size);
        got = MAP_FAILED;
    }
    if (got == MAP_FAILED) got = mmap(nullptr, size, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (got == MAP_FAILED) return Fail(error, path, "no room to map it");
    uint8_t* base = static_cast<uint8_t*>(got);
    *image = Image();
    image->path = path;
    image->base = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(base));
    image->size = size;
    image->library = (Read16(header + 18) & kFileDll) != 0;
    image->entry = entry != 0 ? image->base + entry : 0;
    auto unmapAndFail = [&](const std::string& why) {
        munmap(base, size);
        return Fail(error, path, why);
    };

    std::memcpy(base, file.data(), headersSize);
    for (int i = 0; i < sections; ++i) {
        const uint8_t* s = sectionTable + i * 40;
        uint32_t virtualSize = Read32(s + 8), address = Read32(s + 12), rawSize = Read32(s + 16), raw = Read32(s + 20);
        uint32_t copy = rawSize < virtualSize || virtualSize == 0 ? rawSize : virtualSize;
        if (address > size || copy > size - address || raw > file.size() || copy > file.size() - raw)
            return unmapAndFail("a section lies outside the image or the file");
        std::memcpy(base + address, &file[raw], copy);
    }
    auto InImage = [&](uint32_t rva, uint32_t length) { return rva <= size && length <= size - rva; };

    // Relocations, only where the preferred base was taken; the device's
    // compilers emit no other kind than HIGHLOW.
    uint32_t delta = image->base - preferred;
    uint32_t relocations = Read32(directory + kRelocationDirectory * 8);
    uint32_t relocationsSize = Read32(directory + kRelocationDirectory * 8 + 4);
    if (delta != 0 && relocationsSize != 0) {
        if (!InImage(relocations, relocationsSize)) return unmapAndFail("relocations outside the image");
        for (uint32_t at = relocations; at + 8 <= relocations + relocationsSize;) {
            uint32_t page = Read32(base + at), blockSize = Read32(base + at + 4);
            if (blockSize < 8 || blockSize > relocations + relocationsSize - at) return unmapAndFail("bad relocation block");
            for (uint32_t e = 8; e + 2 <= blockSize; e += 2) {
                uint16_t item = Read16(base + at + e);
                int type = item >> 12;
                uint32_t where = page + (item & 0x0FFF);
                if (type == kRelocationAbsolute) continue;
                if (type != kRelocationHighLow) return unmapAndFail("relocation of type " + std::to_string(type));
                if (!InImage(where, 4)) return unmapAndFail("relocation outside the image");
                uint32_t value = Read32(base + where) + delta;
                std::memcpy(base + where, &value, 4);
            }
            at += blockSize;
        }
    } else if (delta != 0) {
        return unmapAndFail("its base is taken and it has no relocations");
    }

    // Imports, by name, or by ordinal as "#N".
    uint32_t imports = Read32(directory + kImportDirectory * 8);
    for (uint32_t d = imports; imports != 0; d += 20) {
        if (!InImage(d, 20)) return unmapAndFail("import table outside the image");
        uint32_t lookup = Read32(base + d), nameRva = Read32(base + d + 12), bound = Read32(base + d + 16);
        if (nameRva == 0) break;
        if (lookup == 0) lookup = bound;
        if (!InImage(nameRva, 1)) return unmapAndFail("import name outside the image");
        std::string dll(reinterpret_cast<const char*>(base + nameRva), strnlen(reinterpret_cast<const char*>(base + nameRva), size - nameRva));
        for (uint32_t i = 0;; i += 4) {
            if (!InImage(lookup + i, 4) || !InImage(bound + i, 4)) return unmapAndFail("import lookup outside the image");
            uint32_t item = Read32(base + lookup + i);
            if (item == 0) break;
            std::string name;
            if (item & 0x80000000u) {
                name = "#" + std::to_string(item & 0xFFFF);
            } else {
                if (!InImage(item + 2, 1)) return unmapAndFail("import name outside the image");
                const char* text = reinterpret_cast<const char*>(base + item + 2);
                name.assign(text, strnlen(text, size - item - 2));
            }
            uint32_t address = resolve(dll, name);
            if (address == 0) return unmapAndFail("imports " + dll + "!" + name + ", which the loader does not provide");
            std::memcpy(base + bound + i, &address, 4);
        }
    }

    uint32_t exports = Read32(directory + kExportDirectory * 8);
    if (exports != 0) {
        if (!InImage(exports, 40)) return unmapAndFail("export table outside the image");
        uint32_t functions = Read32(base + exports + 28), names = Read32(base + exports + 32);
        uint32_t ordinals = Read32(base + exports + 36), count = Read32(base + exports + 24);
        for (uint32_t i = 0; i < count; ++i) {
            if (!InImage(names + i * 4, 4) || !InImage(ordinals + i * 2, 2)) return unmapAndFail("bad export table");
            uint32_t nameRva = Read32(base + names + i * 4);
            uint16_t ordinal = Read16(base + ordinals + i * 2);
            if (!InImage(nameRva, 1) || !InImage(functions + ordinal * 4u, 4)) return unmapAndFail("bad export table");
            const char* text = reinterpret_cast<const char*>(base + nameRva);
            image->exports[std::string(text, strnlen(text, size - nameRva))] =
                image->base + Read32(base + functions + ordinal * 4u);
        }
    }
    return true;
}

uint32_t PreferredBase(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    uint8_t bytes[4];
    if (!in.seekg(0x3C).read(reinterpret_cast<char*>(bytes), 4)) return 0;
    if (!in.seekg(Read32(bytes) + 24 + 28).read(reinterpret_cast<char*>(bytes), 4)) return 0;
    return Read32(bytes);
}

void UnmapImage(const Image& image) {
    if (image.base != 0) munmap(reinterpret_cast<void*>(static_cast<uintptr_t>(image.base)), image.size);
}

}  // namespace celoader
