// Part of the simulation (see sim.h): the launcher's own module with its
// resources, and the libraries a test installs for LoadLibraryW to find.
#include <cstring>
#include <list>
#include <map>
#include <vector>

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


// An installed library and its load count.
struct InstalledLibrary {
    Library library;
    int loads = 0;
};

struct Modules {
    std::u16string launcherPath = u"\\Windows\\kel.exe";
    std::map<std::pair<std::u16string, std::u16string>, Resource> resources;
    std::list<InstalledLibrary> libraries;   // a list keeps the handles stable
};

Modules& State() {
    static Modules modules;
    return modules;
}

// Any non-null address stands for the launcher's module.
platform::HMODULE const kLauncher = reinterpret_cast<platform::HMODULE>(static_cast<uintptr_t>(0x00400000));

InstalledLibrary* FindLibrary(platform::HMODULE module) {
    for (auto& entry : State().libraries) {
        if (reinterpret_cast<platform::HMODULE>(&entry) == module) return &entry;
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

}  // namespace

namespace internal {

void ResetModules() { State() = Modules(); }

bool IsModule(platform::HMODULE module) { return module == kLauncher || FindLibrary(module) != nullptr; }

std::string ModuleName(platform::HMODULE module) {
    if (module == nullptr) return "null";
    if (module == kLauncher) return "module:launcher";
    InstalledLibrary* entry = FindLibrary(module);
    return entry != nullptr ? "module:" + testsupport::U8(entry->library.path) : "bad";
}

}  // namespace internal

platform::HMODULE LauncherModule() { return kLauncher; }

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
    State().libraries.push_back(InstalledLibrary{library, 0});
    return reinterpret_cast<platform::HMODULE>(&State().libraries.back());
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
    if (Enter("GetModuleHandleW", sim::Args().Text(moduleName), Text(moduleName))) return nullptr;
    // The launcher asks only for its own module.
    return moduleName == nullptr ? sim::kLauncher : nullptr;
}

// The launcher's own module, or a library while it is loaded.
// https://learn.microsoft.com/en-us/previous-versions/windows/embedded/ms885629(v=msdn.10)
DWORD GetModuleFileNameW(HMODULE module, char16_t* path, DWORD size) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("GetModuleFileNameW", sim::Args().Name(sim::internal::ModuleName(module)).Pointer(path).Number(size))) {
        return 0;
    }
    std::u16string name = sim::State().launcherPath;
    if (module != nullptr && module != sim::kLauncher && sim::internal::Strict()) {
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

// Only the launcher's module has resources here. The device takes no null
// module for its own ("In Windows CE, hModule cannot be NULL"):
// https://learn.microsoft.com/en-us/previous-versions/windows/embedded/aa453069(v=msdn.10)
HRSRC FindResourceW(HMODULE module, const char16_t* name, const char16_t* type) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::Args args;
    args.Name(sim::internal::ModuleName(module)).Text(name).Text(type);
    if (Enter("FindResourceW", args, Text(type) + u"/" + Text(name))) return nullptr;
    if (module != sim::kLauncher) return nullptr;
    // An integer id is "#N" here, as a resource script spells one.
    auto found = sim::State().resources.find({Upper(Text(type)), Upper(Text(name))});
    if (found == sim::State().resources.end()) return nullptr;
    return reinterpret_cast<HRSRC>(&found->second);
}

const void* LoadResource(HMODULE module, HRSRC resource) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::Resource* found = sim::FindResource(resource);
    if (Enter("LoadResource", sim::Args().Name(sim::internal::ModuleName(module)).Name(sim::ResourceName(found)))) {
        return nullptr;
    }
    if (found == nullptr) return nullptr;
    return found->bytes.data();
}

DWORD SizeofResource(HMODULE module, HRSRC resource) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
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
    if (Enter("LoadLibraryW", sim::Args().Text(fileName), Text(fileName))) return nullptr;
    std::u16string name = Text(fileName);
    std::vector<std::u16string> candidates;
    if (!sim::internal::Strict()) {
        // Lenient: a bare name finds a library in any folder.
        for (auto& entry : sim::State().libraries) {
            const std::u16string& path = entry.library.path;
            std::u16string file = path.substr(path.rfind(u'\\') == std::u16string::npos ? 0 : path.rfind(u'\\') + 1);
            if (Upper(path) == Upper(name) || (name.find(u'\\') == std::u16string::npos && Upper(file) == Upper(name))) {
                candidates.push_back(path);
            }
        }
    } else if (name.size() >= sim::kMaxPath || name.empty()) {
        return nullptr;
    } else if (name.find(u'\\') != std::u16string::npos) {
        candidates.push_back(name);
    } else {
        const std::u16string& program = sim::State().launcherPath;
        candidates.push_back(program.substr(0, program.rfind(u'\\') + 1) + name);
        candidates.push_back(u"\\Windows\\" + name);
    }
    for (const std::u16string& candidate : candidates) {
        for (auto& entry : sim::State().libraries) {
            if (Upper(entry.library.path) != Upper(candidate)) continue;
            // A loader maps the library at its first load, which gives its exports.
            if (entry.loads == 0 && entry.library.load) {
                if (!entry.library.load(&entry.library)) return nullptr;
                entry.library.load = nullptr;
            }
            ++entry.loads;
            return reinterpret_cast<HMODULE>(&entry);
        }
    }
    return nullptr;
}

// A name below 0x10000 is an ordinal, which the device takes as well.
FARPROC GetProcAddressW(HMODULE module, const char16_t* procName) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::Args args;
    args.Name(sim::internal::ModuleName(module)).Text(procName);
    if (Enter("GetProcAddressW", args, Text(procName))) return nullptr;
    auto* entry = sim::FindLibrary(module);
    if (entry == nullptr || (sim::internal::Strict() && entry->loads == 0)) return nullptr;
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
