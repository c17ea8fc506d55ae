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
#include <optional>
#include <vector>

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
    std::string name;   // "TYPE/NAME", for the call log
};

// The longest path the device takes is MAX_PATH less its terminator.
constexpr size_t kMaxPath = 260;


// An installed library and its load count. One a loader maps (it has a
// load function) is each process's own: the first process that loads it
// takes the installed record, each later one a fresh record of its path and load.
struct InstalledLibrary {
    Library library;
    int loads = 0;
    bool mapped = false;                      // its load ran
    std::optional<platform::DWORD> process;   // the process it is loaded in, once it is
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
    // Each process's image standing for its launcher; none: kLauncher.
    std::map<platform::DWORD, platform::HMODULE> launchers;
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

Resource* FindResource(platform::HRSRC handle) {
    for (auto& entry : State().resources) {
        if (reinterpret_cast<platform::HRSRC>(&entry.second) == handle) return &entry.second;
    }
    return nullptr;
}

std::string ResourceName(const Resource* resource) {
    return resource != nullptr ? "resource:" + resource->name : "bad";
}

// The image one of whose leaves a resource handle is, or null.
Image* ImageOfLeaf(platform::HRSRC resource) {
    auto* leaf = reinterpret_cast<const kelpack::Resource*>(resource);
    for (Image& image : State().images) {
        if (!image.leaves.empty() && leaf >= &image.leaves.front() && leaf <= &image.leaves.back()) return &image;
    }
    return nullptr;
}

// A leaf for the call log, as an injected resource is named: "TYPE/NAME", an id as #N.
std::string LeafName(const kelpack::Resource& leaf) {
    auto part = [](const kelpack::ResId& id) { return id.isName ? testsupport::U8(id.name) : "#" + std::to_string(id.id); };
    return "resource:" + part(leaf.type) + "/" + part(leaf.name);
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

bool IsId(const char16_t* name) { return reinterpret_cast<uintptr_t>(name) < 0x10000; }

// A resource type or name as the caller gave it, for kelpack's lookup: an
// id below 0x10000 (MAKEINTRESOURCE), or text.
kelpack::ResId IdOf(const char16_t* text) {
    if (IsId(text)) return kelpack::IntResId(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(text)));
    kelpack::ResId id;
    id.isName = true;
    id.name = text;
    return id;
}

platform::HMODULE LauncherOrImage() {
    auto found = State().launchers.find(internal::CurrentProcess());
    return found != State().launchers.end() ? found->second : kLauncher;
}

// The library at a path as the calling process has it, or null.
InstalledLibrary* LibraryAt(const std::u16string& path) {
    platform::DWORD process = internal::CurrentProcess();
    InstalledLibrary* unused = nullptr;
    InstalledLibrary* any = nullptr;
    for (auto& entry : State().libraries) {
        if (Upper(entry.library.path) != Upper(path)) continue;
        if (!entry.library.load || entry.process == process) return &entry;
        if (!entry.process && unused == nullptr) unused = &entry;
        any = &entry;
    }
    if (unused != nullptr) {
        unused->process = process;
        return unused;
    }
    if (any == nullptr) return nullptr;
    Library fresh;
    fresh.path = any->library.path;
    fresh.load = any->library.load;
    State().libraries.push_back(InstalledLibrary{fresh, 0, false, process});
    return &State().libraries.back();
}

}  // namespace

namespace internal {

void ResetModules() {
    for (const Image& image : State().images) {
        if (image.mappedSize != 0) munmap(image.base, image.mappedSize);
    }
    State() = Modules();
}

bool IsModule(platform::HMODULE module) {
    return module == LauncherOrImage() || FindLibrary(module) != nullptr || FindImage(module) != nullptr;
}

// The launcher's module is named alike whether it is an image or not, and
// wherever it was mapped, so that the device's and the host's runs agree.
std::string ModuleName(platform::HMODULE module) {
    if (module == nullptr) return "null";
    if (module == LauncherOrImage()) return "module:launcher";
    InstalledLibrary* entry = FindLibrary(module);
    if (entry != nullptr) return "module:" + testsupport::U8(entry->library.path);
    return FindImage(module) != nullptr ? "module:image" : "bad";
}

platform::HRSRC LookUpResource(platform::HMODULE module, const char16_t* name, const char16_t* type) {
    if (Image* image = FindImage(module)) {
        const kelpack::Resource* leaf = kelpack::FindResource(image->leaves, IdOf(type), IdOf(name));
        return reinterpret_cast<platform::HRSRC>(const_cast<kelpack::Resource*>(leaf));
    }
    if (module != kLauncher) return nullptr;
    // An integer id is "#N" here, as a resource script spells one.
    auto found = State().resources.find({Upper(Text(type)), Upper(Text(name))});
    return found != State().resources.end() ? reinterpret_cast<platform::HRSRC>(&found->second) : nullptr;
}

}  // namespace internal

platform::HMODULE LauncherModule() {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return LauncherOrImage();
}

void SetLauncherModule(platform::HMODULE module) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    State().launchers[internal::CurrentProcess()] = module;
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
    std::memcpy(base, pe.bytes.whole().data(), std::min<size_t>(pe.sizeOfHeaders, pe.sizeOfImage));
    for (const kelpack::PeSection& s : pe.sections) {
        uint32_t copy = CopiedSize(s);
        if (s.virtualAddress <= pe.sizeOfImage && copy <= pe.sizeOfImage - s.virtualAddress)
            std::memcpy(base + s.virtualAddress, pe.bytes.whole().data() + s.rawOffset, copy);
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
    State().resources[{Upper(type), Upper(name)}] = Resource{bytes, testsupport::U8(type + u"/" + name)};
}

platform::HMODULE InstallLibrary(const Library& library) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    State().libraries.push_back(InstalledLibrary{library, 0, false, std::nullopt});
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

HMODULE GetModuleHandleW(const char16_t* moduleName) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("GetModuleHandleW", sim::Args().Text(moduleName))) return nullptr;
    // The launcher asks only for its own module.
    return moduleName == nullptr ? sim::LauncherModule() : nullptr;
}

// The launcher's own module, or a library while it is loaded.
// https://learn.microsoft.com/en-us/previous-versions/windows/embedded/ms885629(v=msdn.10)
DWORD GetModuleFileNameW(HMODULE module, char16_t* path, DWORD size) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("GetModuleFileNameW", sim::Args().Name(sim::internal::ModuleName(module)).Pointer(path).Number(size))) {
        return 0;
    }
    std::u16string name = sim::State().launcherPath;
    if (module != nullptr && module != sim::LauncherOrImage()) {
        sim::InstalledLibrary* entry = sim::FindLibrary(module);
        if (entry == nullptr || entry->loads == 0) return 0;   // ERROR_INVALID_HANDLE
        name = entry->library.path;
    }
    // As Wine does: a name that does not fit is cut to size characters, with
    // no terminator, and the full size is returned.
    DWORD length = static_cast<DWORD>(name.size()) < size ? static_cast<DWORD>(name.size()) : size;
    std::memcpy(path, name.data(), length * sizeof(char16_t));
    if (length < size) path[length] = 0;
    return length;
}

// The launcher's module and mapped images have resources here. The device takes no null
// module for its own ("In Windows CE, hModule cannot be NULL"):
// https://learn.microsoft.com/en-us/previous-versions/windows/embedded/aa453069(v=msdn.10)
HRSRC FindResourceW(HMODULE module, const char16_t* name, const char16_t* type) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::Args args;
    args.Name(sim::internal::ModuleName(module)).Text(name).Text(type);
    if (Enter("FindResourceW", args)) return nullptr;
    return sim::internal::LookUpResource(module, name, type);
}

const void* LoadResource(HMODULE module, HRSRC resource) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (sim::Image* image = sim::ImageOfLeaf(resource)) {
        auto* leaf = reinterpret_cast<const kelpack::Resource*>(resource);
        if (Enter("LoadResource", sim::Args().Name(sim::internal::ModuleName(module)).Name(sim::LeafName(*leaf)))) {
            return nullptr;
        }
        return image->bytes[leaf - image->leaves.data()];
    }
    sim::Resource* found = sim::FindResource(resource);
    if (Enter("LoadResource", sim::Args().Name(sim::internal::ModuleName(module)).Name(sim::ResourceName(found)))) {
        return nullptr;
    }
    if (found == nullptr) return nullptr;
    return found->bytes.data();
}

DWORD SizeofResource(HMODULE module, HRSRC resource) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (sim::ImageOfLeaf(resource) != nullptr) {
        auto* leaf = reinterpret_cast<const kelpack::Resource*>(resource);
        if (Enter("SizeofResource", sim::Args().Name(sim::internal::ModuleName(module)).Name(sim::LeafName(*leaf)))) {
            return 0;
        }
        return static_cast<DWORD>(leaf->source.size);
    }
    sim::Resource* found = sim::FindResource(resource);
    if (Enter("SizeofResource", sim::Args().Name(sim::internal::ModuleName(module)).Name(sim::ResourceName(found)))) {
        return 0;
    }
    if (found == nullptr) return 0;
    return static_cast<DWORD>(found->bytes.size());
}

// A path as the device takes it: a full path as it is; a bare file name in
// the program's folder, then in \Windows (where the ROM's libraries are
// seen too), never in a current directory, which the device has not
// (../shared/ce/README.md; the search order is the LoadLibrary page's:
// https://learn.microsoft.com/en-us/previous-versions/windows/embedded/ms886736(v=msdn.10)).
// A path of MAX_PATH (260) characters or more names no file on the device,
// whose file system takes no longer path; it fails as Wine does on one, with
// ERROR_FILENAME_EXCED_RANGE.
HMODULE LoadLibraryW(const char16_t* fileName) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("LoadLibraryW", sim::Args().Text(fileName))) return nullptr;
    std::u16string name = Text(fileName);
    std::vector<std::u16string> candidates;
    if (name.size() >= sim::kMaxPath || name.empty()) {
        return nullptr;
    } else if (name.find(u'\\') != std::u16string::npos) {
        candidates.push_back(name);
    } else {
        const std::u16string& program = sim::State().launcherPath;
        candidates.push_back(program.substr(0, program.rfind(u'\\') + 1) + name);
        candidates.push_back(u"\\Windows\\" + name);
    }
    for (const std::u16string& candidate : candidates) {
        sim::InstalledLibrary* entry = sim::LibraryAt(candidate);
        if (entry == nullptr) continue;
        // A loader maps the library at its first load in a process, which gives its exports.
        if (!entry->mapped && entry->library.load) {
            if (!entry->library.load(&entry->library)) return nullptr;
            entry->mapped = true;
        }
        ++entry->loads;
        return sim::HandleOf(*entry);
    }
    return nullptr;
}

// A name below 0x10000 is an ordinal, which the device takes as well.
FARPROC GetProcAddressW(HMODULE module, const char16_t* procName) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::Args args;
    args.Name(sim::internal::ModuleName(module)).Text(procName);
    if (Enter("GetProcAddressW", args)) return nullptr;
    auto* entry = sim::FindLibrary(module);
    if (entry == nullptr || entry->loads == 0) return nullptr;
    auto found = entry->library.exports.find(testsupport::U8(Text(procName)));
    return found == entry->library.exports.end() ? nullptr : found->second;
}

BOOL FreeLibrary(HMODULE module) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("FreeLibrary", sim::Args().Name(sim::internal::ModuleName(module)))) return FALSE;
    auto* entry = sim::FindLibrary(module);
    if (entry == nullptr || entry->loads == 0) return FALSE;
    --entry->loads;
    return TRUE;
}

}  // namespace platform
