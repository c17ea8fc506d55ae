// A registry tree: case-insensitive key and value names, typed values held as
// raw bytes, and the size rules of RegQueryValueExW as Windows has them.
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "platform/host/world.h"

namespace sim {
namespace {

using internal::Mutex;
using internal::Upper;

struct Key {
    std::map<std::u16string, std::unique_ptr<Key>> children;   // by upper-cased name
    std::map<std::u16string, RegistryValue> values;            // by upper-cased name; "" is the default value
};

struct Registry {
    std::map<platform::HKEY, Key> roots;
    std::multiset<Key*> open;   // handles given out and not closed; a handle is the Key's address
};

Registry& State() {
    static Registry registry;
    return registry;
}

bool IsRoot(platform::HKEY key) {
    return key == platform::HKEY_CLASSES_ROOT || key == platform::HKEY_CURRENT_USER ||
           key == platform::HKEY_LOCAL_MACHINE;
}

// The key a handle stands for: a root or an open key.
Key* Resolve(platform::HKEY key) {
    if (IsRoot(key)) return &State().roots[key];
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
            }
            key = found->second.get();
        }
        start = end + 1;
    }
    return key;
}

platform::HKEY Open(Key* key) {
    State().open.insert(key);
    return reinterpret_cast<platform::HKEY>(key);
}

}  // namespace

namespace internal {
void ResetRegistry() { State() = Registry(); }
}  // namespace internal

void SetRegistryValue(platform::HKEY root, const std::u16string& path, const std::u16string& name,
                      platform::DWORD type, const std::string& bytes) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    Walk(&State().roots[root], path, true)->values[Upper(name)] = RegistryValue{type, bytes};
}

void SetRegistryString(platform::HKEY root, const std::u16string& path, const std::u16string& name,
                       const std::u16string& text) {
    std::string bytes(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(char16_t));
    SetRegistryValue(root, path, name, platform::REG_SZ, bytes);
}

std::optional<RegistryValue> GetRegistryValue(platform::HKEY root, const std::u16string& path,
                                              const std::u16string& name) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    Key* key = Walk(&State().roots[root], path, false);
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
    return Walk(&State().roots[root], path, false) != nullptr;
}

int OpenKeyCount() {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    return static_cast<int>(State().open.size());
}

}  // namespace sim

namespace platform {

using sim::internal::Enter;
using sim::internal::Mutex;
using sim::internal::Upper;

LONG RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD, DWORD, HKEY* result) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("RegOpenKeyExW", subKey ? subKey : u"")) return ERROR_ACCESS_DENIED;
    sim::Key* parent = sim::Resolve(key);
    if (parent == nullptr) return ERROR_INVALID_HANDLE;
    sim::Key* found = sim::Walk(parent, subKey ? subKey : u"", false);
    if (found == nullptr) return ERROR_FILE_NOT_FOUND;
    *result = sim::Open(found);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExW(HKEY key, const char16_t* subKey, DWORD, char16_t*, DWORD, DWORD, void*, HKEY* result,
                     DWORD* disposition) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("RegCreateKeyExW", subKey ? subKey : u"")) return ERROR_ACCESS_DENIED;
    sim::Key* parent = sim::Resolve(key);
    if (parent == nullptr) return ERROR_INVALID_HANDLE;
    bool existed = sim::Walk(parent, subKey ? subKey : u"", false) != nullptr;
    sim::Key* found = sim::Walk(parent, subKey ? subKey : u"", true);
    if (disposition != nullptr) *disposition = existed ? 2 : 1;   // REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY
    *result = sim::Open(found);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, const char16_t* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("RegQueryValueExW", valueName ? valueName : u"")) return ERROR_ACCESS_DENIED;
    constexpr LONG ERROR_INVALID_PARAMETER = 87;
    constexpr DWORD kRegMultiSz = 7;
    if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
    sim::Key* node = sim::Resolve(key);
    if (node == nullptr) return ERROR_INVALID_HANDLE;
    auto found = node->values.find(Upper(valueName ? valueName : u""));
    if (found == node->values.end()) return ERROR_FILE_NOT_FOUND;
    const sim::RegistryValue& value = found->second;
    if (type != nullptr) *type = value.type;
    if (size == nullptr) return ERROR_SUCCESS;
    auto needed = static_cast<DWORD>(value.bytes.size());
    // Too small a buffer gets nothing copied, only the size it would need.
    if (data != nullptr && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (data != nullptr) {
        std::memcpy(data, value.bytes.data(), needed);
        // A string stored without its terminator gets one behind it when the
        // buffer has room for a whole wide NUL; the size reported leaves it out.
        bool isString = value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == kRegMultiSz;
        bool unterminated = needed >= 2 ? (data[needed - 2] | data[needed - 1]) != 0 : needed == 1 && data[0] != 0;
        if (isString && unterminated && needed + sizeof(char16_t) <= *size) {
            data[needed] = 0;
            data[needed + 1] = 0;
        }
    }
    *size = needed;
    return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, const char16_t* valueName, DWORD, DWORD type, const BYTE* data, DWORD size) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("RegSetValueExW", valueName ? valueName : u"")) return ERROR_ACCESS_DENIED;
    sim::Key* node = sim::Resolve(key);
    if (node == nullptr) return ERROR_INVALID_HANDLE;
    node->values[Upper(valueName ? valueName : u"")] =
        sim::RegistryValue{type, std::string(reinterpret_cast<const char*>(data), size)};
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    if (Enter("RegCloseKey")) return ERROR_INVALID_HANDLE;
    if (sim::IsRoot(key)) return ERROR_SUCCESS;
    auto* node = reinterpret_cast<sim::Key*>(key);
    auto open = sim::State().open.find(node);
    if (open == sim::State().open.end()) return ERROR_INVALID_HANDLE;
    sim::State().open.erase(open);
    return ERROR_SUCCESS;
}

}  // namespace platform
