// Part of the simulation (see sim.h): a registry tree with
// case-insensitive key and value names, typed values held as raw bytes, and
// the size rules of RegQueryValueExW the launcher's reads depend on.
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "world.h"

namespace sim {
namespace {

using internal::Mutex;
using internal::Upper;

// The answers the registry gives besides ERROR_SUCCESS; the launcher only tells success from failure.
constexpr platform::LONG kFileNotFound = 2;
constexpr platform::LONG kAccessDenied = 5;
constexpr platform::LONG kInvalidHandle = 6;
constexpr platform::LONG kInvalidParameter = 87;
constexpr platform::LONG kMoreData = 234;
constexpr platform::LONG kNoAccess = 998;

struct Key {
    std::map<std::u16string, std::unique_ptr<Key>> children;   // by upper-cased name
    std::map<std::u16string, RegistryValue> values;            // by upper-cased name; "" is the default value
    std::u16string name;                                        // its path from the root, for the call log
};

struct Registry {
    std::map<platform::HKEY, Key> roots;
    std::multiset<Key*> open;   // handles given out and not closed; a handle is the Key's address
};

Registry& State() {
    static Registry registry;
    return registry;
}

// The roots, named as the log shows them.
Key& Root(platform::HKEY root) {
    Key& key = State().roots[root];
    if (key.name.empty()) key.name = root == platform::HKEY_CLASSES_ROOT ? u"HKCR" : u"HKLM";
    return key;
}

bool IsRoot(platform::HKEY key) {
    return key == platform::HKEY_CLASSES_ROOT || key == platform::HKEY_LOCAL_MACHINE;
}

// The key a handle stands for: a root or an open key.
Key* Resolve(platform::HKEY key) {
    if (IsRoot(key)) return &Root(key);
    auto* node = reinterpret_cast<Key*>(key);
    return State().open.count(node) ? node : nullptr;
}

// Walks a backslash-separated path below a key; creates what is missing when asked.
Key* Walk(Key* key, const std::u16string& path, bool create) {
    size_t start = 0;
    while (key != nullptr && start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string::npos) end = path.size();
        std::u16string part = Upper(path.substr(start, end - start));
        if (!part.empty()) {
            auto found = key->children.find(part);
            if (found == key->children.end()) {
                if (!create) return nullptr;
                found = key->children.emplace(part, std::make_unique<Key>()).first;
                found->second->name = key->name + u"\\" + path.substr(start, end - start);
            }
            key = found->second.get();
        }
        start = end + 1;
    }
    return key;
}

// Opens the key at path below a handle; the status the platform answers.
platform::LONG Open(platform::HKEY parent, const char16_t* path, bool create, platform::HKEY* result) {
    Key* from = Resolve(parent);
    if (from == nullptr) return kInvalidHandle;
    Key* found = Walk(from, internal::Text(path), create);
    if (found == nullptr) return kFileNotFound;
    State().open.insert(found);
    *result = reinterpret_cast<platform::HKEY>(found);
    return platform::ERROR_SUCCESS;
}

}  // namespace

namespace internal {

void ResetRegistry() { State() = Registry(); }

std::string KeyName(platform::HKEY key) {
    if (key == nullptr) return "null";
    Key* node = Resolve(key);
    return node != nullptr ? "key:" + testsupport::U8(node->name) : "bad";
}

}  // namespace internal

void SetRegistryValue(platform::HKEY root, const std::u16string& path, const std::u16string& name,
                      platform::DWORD type, const std::string& bytes) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    Walk(&Root(root), path, true)->values[Upper(name)] = RegistryValue{type, bytes};
}

void SetRegistryString(platform::HKEY root, const std::u16string& path, const std::u16string& name,
                       const std::u16string& text) {
    std::string bytes(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(char16_t));
    SetRegistryValue(root, path, name, platform::REG_SZ, bytes);
}

std::optional<RegistryValue> GetRegistryValue(platform::HKEY root, const std::u16string& path,
                                              const std::u16string& name) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    Key* key = Walk(&Root(root), path, false);
    if (key == nullptr) return std::nullopt;
    auto found = key->values.find(Upper(name));
    if (found == key->values.end()) return std::nullopt;
    return found->second;
}

std::optional<std::u16string> GetRegistryString(platform::HKEY root, const std::u16string& path,
                                                const std::u16string& name) {
    auto value = GetRegistryValue(root, path, name);
    if (!value || value->type != platform::REG_SZ) return std::nullopt;
    std::u16string text(value->bytes.size() / 2, u'\0');
    std::memcpy(text.data(), value->bytes.data(), text.size() * 2);
    while (!text.empty() && text.back() == 0) text.pop_back();
    return text;
}

bool RegistryKeyExists(platform::HKEY root, const std::u16string& path) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return Walk(&Root(root), path, false) != nullptr;
}

int OpenKeyCount() {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return static_cast<int>(State().open.size());
}

}  // namespace sim

namespace platform {

using sim::internal::Enter;
using sim::internal::Mutex;
using sim::internal::Text;
using sim::internal::Upper;

// The device's reference pages say what it takes in each word:
// RegOpenKeyEx https://learn.microsoft.com/en-us/previous-versions/windows/embedded/ms891460(v=msdn.10)
// RegCreateKeyEx https://learn.microsoft.com/en-us/previous-versions/windows/embedded/ms891450(v=msdn.10)
// RegQueryValueEx and RegSetValueEx, from the list
// https://learn.microsoft.com/en-us/previous-versions/windows/embedded/aa516952(v=msdn.10).
// A reserved word must be 0 (NULL for a pointer): another fails with
// ERROR_INVALID_PARAMETER, as Wine fails it. The device has no access
// checks and no volatile keys: it ignores the access mask and the options
// of a key it creates (they are logged, and the key is an ordinary one).

LONG RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD options, DWORD access, HKEY* result) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::Args args;
    args.Name(sim::internal::KeyName(key)).Text(subKey).Flags(options).Flags(access).Pointer(result);
    if (Enter("RegOpenKeyExW", args)) return sim::kAccessDenied;
    // Its options word is the page's "reserved; set to 0".
    if (options != 0) return sim::kInvalidParameter;
    return sim::Open(key, subKey, false, result);
}

// The disposition is not reported: the launcher does not look at it.
LONG RegCreateKeyExW(HKEY key, const char16_t* subKey, DWORD reserved, char16_t* keyClass, DWORD options,
                     DWORD access, void* security, HKEY* result, DWORD* disposition) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::Args args;
    args.Name(sim::internal::KeyName(key)).Text(subKey).Number(reserved).Text(keyClass).Flags(options).Flags(access);
    args.Pointer(security).Pointer(result).Pointer(disposition);
    if (Enter("RegCreateKeyExW", args)) return sim::kAccessDenied;
    if (reserved != 0) return sim::kInvalidParameter;
    return sim::Open(key, subKey, true, result);
}

LONG RegQueryValueExW(HKEY key, const char16_t* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::Args args;
    args.Name(sim::internal::KeyName(key)).Text(valueName).Pointer(reserved).Pointer(type).Pointer(data);
    if (size != nullptr) args.Number(*size);
    else args.Pointer(nullptr);
    if (Enter("RegQueryValueExW", args)) return sim::kAccessDenied;
    if ((reserved != nullptr || (data != nullptr && size == nullptr))) {
        return sim::kInvalidParameter;
    }
    sim::Key* node = sim::Resolve(key);
    if (node == nullptr) return sim::kInvalidHandle;
    auto found = node->values.find(Upper(Text(valueName)));
    if (found == node->values.end()) return sim::kFileNotFound;
    const sim::RegistryValue& value = found->second;
    if (type != nullptr) *type = value.type;
    auto needed = static_cast<DWORD>(value.bytes.size());
    // Without a buffer only the size is asked for; too small a buffer gets
    // nothing copied, only the size it would need.
    if (data != nullptr && *size < needed) {
        *size = needed;
        return sim::kMoreData;
    }
    if (data != nullptr) std::memcpy(data, value.bytes.data(), needed);
    if (size != nullptr) *size = needed;
    return ERROR_SUCCESS;
}

// Any type is stored as given, with exactly the bytes given, as Windows stores them.
LONG RegSetValueExW(HKEY key, const char16_t* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    sim::Args args;
    args.Name(sim::internal::KeyName(key)).Text(valueName).Number(reserved).Number(type).Pointer(data).Number(size);
    if (Enter("RegSetValueExW", args)) return sim::kAccessDenied;
    if (reserved != 0) return sim::kInvalidParameter;
    // No bytes to take the size from: Wine's ERROR_NOACCESS.
    if (data == nullptr && size != 0) return sim::kNoAccess;
    sim::Key* node = sim::Resolve(key);
    if (node == nullptr) return sim::kInvalidHandle;
    node->values[Upper(Text(valueName))] = sim::RegistryValue{type, std::string(reinterpret_cast<const char*>(data), size)};
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("RegCloseKey", sim::Args().Name(sim::internal::KeyName(key)))) return sim::kInvalidHandle;
    auto open = sim::State().open.find(reinterpret_cast<sim::Key*>(key));
    if (open == sim::State().open.end()) return sim::kInvalidHandle;
    sim::State().open.erase(open);
    return ERROR_SUCCESS;
}

}  // namespace platform
