// Part of the simulation (see sim.h): the launcher's own module with its
// resources, and the libraries a test installs for LoadLibraryW to find.
#include <cstring>
#include <list>
#include <map>

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

}  // namespace

namespace internal {
void ResetModules() { State() = Modules(); }
}  // namespace internal

platform::HMODULE LauncherModule() { return kLauncher; }

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
    if (Enter("GetModuleHandleW", Text(moduleName))) return nullptr;
    // The launcher asks only for its own module.
    return moduleName == nullptr ? sim::kLauncher : nullptr;
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
    if (Enter("FindResourceW", Text(type) + u"/" + Text(name))) return nullptr;
    if (module != sim::kLauncher) return nullptr;
    auto found = sim::State().resources.find({Upper(Text(type)), Upper(Text(name))});
    if (found == sim::State().resources.end()) return nullptr;
    return reinterpret_cast<HRSRC>(&found->second);
}

const void* LoadResource(HMODULE, HRSRC resource) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("LoadResource")) return nullptr;
    return reinterpret_cast<sim::Resource*>(resource)->bytes.data();
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("SizeofResource")) return 0;
    return static_cast<DWORD>(reinterpret_cast<sim::Resource*>(resource)->bytes.size());
}

HMODULE LoadLibraryW(const char16_t* fileName) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("LoadLibraryW", Text(fileName))) return nullptr;
    for (auto& entry : sim::State().libraries) {
        if (Upper(entry.library.path) == Upper(Text(fileName))) {
            ++entry.loads;
            return reinterpret_cast<HMODULE>(&entry);
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
