// Part of the simulation (see sim.h): the launcher's own module with its
// resources, program and library files mapped as images whose resource trees
// are read in place, and the libraries a test installs for LoadLibraryW to find.
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <list>
#include <map>

#include "kelpack/pe.h"
#include "world.h"

namespace sim {
namespace {

using internal::Mutex;
using internal::Text;
using internal::Upper;

// A resource: upper-cased type and name as the key, the bytes as stored.
struct Resource {
    std::string bytes;
};

// An installed library and its load count.
struct InstalledLibrary {
    Library library;
    int loads = 0;
};

// A mapped image and its resource tree, read once with the packager's own
// reader: each leaf with the address of its bytes in the mapped image. A tree
// the reader rejects holds nothing, so a lookup in it fails, as the device's
// does, rather than follow offsets out of the image.
struct Image {
    platform::HMODULE base = nullptr;
    size_t mappedSize = 0;                  // non-zero: the simulation mapped it and unmaps it at Reset
    kelpack::ResourceList leaves;
    std::vector<const uint8_t*> bytes;      // each leaf's bytes in the image
};

struct Modules {
    std::u16string launcherPath = u"\\Windows\\kel.exe";
    std::map<std::pair<std::u16string, std::u16string>, Resource> resources;
    std::list<InstalledLibrary> libraries;   // a list keeps the handles stable
    std::list<Image> images;
    platform::HMODULE launcher = nullptr;    // an image standing for the launcher; null: kLauncher
};

Modules& State() {
    static Modules modules;
    return modules;
}

// Any non-null address stands for the launcher's module.
platform::HMODULE const kLauncher = reinterpret_cast<platform::HMODULE>(static_cast<uintptr_t>(0x00400000));

platform::HMODULE HandleOf(InstalledLibrary& entry) {
    return entry.library.handle != nullptr ? entry.library.handle : reinterpret_cast<platform::HMODULE>(&entry);
}

InstalledLibrary* FindLibrary(platform::HMODULE module) {
    for (auto& entry : State().libraries) {
        if (HandleOf(entry) == module) return &entry;
    }
    return nullptr;
}

Image* FindImage(platform::HMODULE module) {
    for (Image& image : State().images) {
        if (image.base == module) return &image;
    }
    return nullptr;
}

// The image one of whose leaves a resource handle is, or null.
Image* ImageOfLeaf(platform::HRSRC resource) {
    auto* leaf = reinterpret_cast<const kelpack::Resource*>(resource);
    for (Image& image : State().images) {
        if (!image.leaves.empty() && leaf >= &image.leaves.front() && leaf <= &image.leaves.back()) return &image;
    }
    return nullptr;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// How many bytes of a section a loader copies: its raw data, cut to its
// virtual size where that is given.
uint32_t CopiedSize(const kelpack::PeSection& s) {
    return s.rawSize < s.virtualSize || s.virtualSize == 0 ? s.rawSize : s.virtualSize;
}

// Reads the resource tree of an image mapped at base from a parsed file, and
// finds each leaf's bytes where the loader put them.
void ReadTree(const kelpack::PeImage& pe, uint32_t mappedSize, Image* image) {
    std::string error;
    if (!kelpack::ReadResourceEntries(pe, &image->leaves, &error)) image->leaves.clear();
    kelpack::ResourceList found;
    for (kelpack::Resource& leaf : image->leaves) {
        const uint8_t* at = nullptr;
        for (const kelpack::PeSection& s : pe.sections) {
            uint64_t within = leaf.source.offset - s.rawOffset;
            if (leaf.source.offset < s.rawOffset || within + leaf.source.size > CopiedSize(s)) continue;
            if (s.virtualAddress + within + leaf.source.size > mappedSize) continue;
            at = reinterpret_cast<const uint8_t*>(image->base) + s.virtualAddress + within;
        }
        // An empty leaf has no bytes to lie anywhere.
        if (leaf.source.size == 0) at = reinterpret_cast<const uint8_t*>(image->base);
        if (at == nullptr) continue;   // bytes the loader did not map are no resource
        found.push_back(leaf);
        image->bytes.push_back(at);
    }
    image->leaves = std::move(found);
}

// A resource type or name as the caller gave it: an id below 0x10000
// (MAKEINTRESOURCE), or text.
kelpack::ResId IdOf(const char16_t* text) {
    uintptr_t value = reinterpret_cast<uintptr_t>(text);
    if (value < 0x10000) return kelpack::IntResId(static_cast<uint32_t>(value));
    kelpack::ResId id;
    id.isName = true;
    id.name = text;
    return id;
}

std::u16string Spelled(const char16_t* text) {
    uintptr_t value = reinterpret_cast<uintptr_t>(text);
    return value < 0x10000 ? u"#" + testsupport::U16(std::to_string(value)) : std::u16string(text);
}

}  // namespace

namespace internal {
void ResetModules() {
    for (const Image& image : State().images) {
        if (image.mappedSize != 0) munmap(image.base, image.mappedSize);
    }
    State() = Modules();
}
}  // namespace internal

platform::HMODULE LauncherModule() {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return State().launcher != nullptr ? State().launcher : kLauncher;
}

void SetLauncherModule(platform::HMODULE module) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    State().launcher = module;
}

platform::HMODULE MapImageFile(const std::string& path, std::string* error) {
    std::vector<uint8_t> file;
    if (!ReadFile(path, &file)) {
        *error = path + ": cannot be read";
        return nullptr;
    }
    kelpack::PeImage pe;
    if (!kelpack::ParsePe(std::move(file), &pe, error)) {
        *error = path + ": " + *error;
        return nullptr;
    }
    void* memory = mmap(nullptr, pe.sizeOfImage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pe.sizeOfImage == 0 || memory == MAP_FAILED) {
        *error = path + ": no room to map it";
        return nullptr;
    }
    auto* base = static_cast<uint8_t*>(memory);
    std::memcpy(base, pe.bytes.data(), std::min<size_t>(pe.sizeOfHeaders, pe.sizeOfImage));
    for (const kelpack::PeSection& s : pe.sections) {
        uint32_t copy = CopiedSize(s);
        if (s.virtualAddress <= pe.sizeOfImage && copy <= pe.sizeOfImage - s.virtualAddress)
            std::memcpy(base + s.virtualAddress, pe.bytes.data() + s.rawOffset, copy);
    }
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    State().images.emplace_back();
    Image& image = State().images.back();
    image.base = reinterpret_cast<platform::HMODULE>(base);
    image.mappedSize = pe.sizeOfImage;
    ReadTree(pe, pe.sizeOfImage, &image);
    return image.base;
}

void AddMappedImage(platform::HMODULE base, const std::string& path) {
    std::vector<uint8_t> file;
    kelpack::PeImage pe;
    std::string error;
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    State().images.emplace_back();
    Image& image = State().images.back();
    image.base = base;
    if (ReadFile(path, &file) && kelpack::ParsePe(std::move(file), &pe, &error)) ReadTree(pe, pe.sizeOfImage, &image);
}

void SetLauncherPath(const std::u16string& path) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    State().launcherPath = path;
}

void SetResource(const std::u16string& type, const std::u16string& name, const std::string& bytes) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    State().resources[{Upper(type), Upper(name)}] = Resource{bytes};
}

platform::HMODULE InstallLibrary(const Library& library) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    State().libraries.push_back(InstalledLibrary{library, 0});
    return HandleOf(State().libraries.back());
}

int LoadCount(platform::HMODULE library) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    InstalledLibrary* entry = FindLibrary(library);
    return entry ? entry->loads : 0;
}

}  // namespace sim

namespace platform {

using sim::internal::Enter;
using sim::internal::Mutex;
using sim::internal::Text;
using sim::internal::Upper;

HMODULE GetModuleHandleW(const char16_t* moduleName) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("GetModuleHandleW", Text(moduleName))) return nullptr;
    // The launcher asks only for its own module.
    return moduleName == nullptr ? sim::LauncherModule() : nullptr;
}

DWORD GetModuleFileNameW(HMODULE, char16_t* path, DWORD size) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("GetModuleFileNameW")) return 0;
    // Only the launcher's own module is asked for; null names it too.
    const std::u16string& name = sim::State().launcherPath;
    // As Wine does: a name that does not fit is cut to size characters, with
    // no terminator, and the full size is returned.
    DWORD length = static_cast<DWORD>(name.size()) < size ? static_cast<DWORD>(name.size()) : size;
    std::memcpy(path, name.data(), length * sizeof(char16_t));
    if (length < size) path[length] = 0;
    return length;
}

HRSRC FindResourceW(HMODULE module, const char16_t* name, const char16_t* type) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("FindResourceW", sim::Spelled(type) + u"/" + sim::Spelled(name))) return nullptr;
    if (sim::Image* image = sim::FindImage(module)) {
        const kelpack::Resource* leaf = kelpack::FindResource(image->leaves, sim::IdOf(type), sim::IdOf(name));
        return reinterpret_cast<HRSRC>(const_cast<kelpack::Resource*>(leaf));
    }
    if (module != sim::kLauncher || reinterpret_cast<uintptr_t>(type) < 0x10000 ||
        reinterpret_cast<uintptr_t>(name) < 0x10000)
        return nullptr;
    auto found = sim::State().resources.find({Upper(Text(type)), Upper(Text(name))});
    if (found == sim::State().resources.end()) return nullptr;
    return reinterpret_cast<HRSRC>(&found->second);
}

const void* LoadResource(HMODULE, HRSRC resource) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("LoadResource")) return nullptr;
    if (sim::Image* image = sim::ImageOfLeaf(resource))
        return image->bytes[reinterpret_cast<kelpack::Resource*>(resource) - image->leaves.data()];
    return reinterpret_cast<sim::Resource*>(resource)->bytes.data();
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("SizeofResource")) return 0;
    if (sim::ImageOfLeaf(resource) != nullptr)
        return static_cast<DWORD>(reinterpret_cast<kelpack::Resource*>(resource)->source.size);
    return static_cast<DWORD>(reinterpret_cast<sim::Resource*>(resource)->bytes.size());
}

HMODULE LoadLibraryW(const char16_t* fileName) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("LoadLibraryW", Text(fileName))) return nullptr;
    for (auto& entry : sim::State().libraries) {
        if (Upper(entry.library.path) == Upper(Text(fileName))) {
            ++entry.loads;
            return sim::HandleOf(entry);
        }
    }
    return nullptr;
}

FARPROC GetProcAddressW(HMODULE module, const char16_t* procName) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("GetProcAddressW", Text(procName))) return nullptr;
    auto* entry = sim::FindLibrary(module);
    if (entry == nullptr) return nullptr;
    auto found = entry->library.exports.find(testsupport::U8(Text(procName)));
    return found == entry->library.exports.end() ? nullptr : found->second;
}

BOOL FreeLibrary(HMODULE module) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("FreeLibrary")) return FALSE;
    auto* entry = sim::FindLibrary(module);
    if (entry == nullptr || entry->loads == 0) return FALSE;
    --entry->loads;
    return TRUE;
}

}  // namespace platform
