#include "filetype/register.h"

#include <cstdlib>

#include "platform/platform.h"
#include "filetype/registration.h"
#include "text/text.h"
#include "trace/trace.h"

namespace filetype {
namespace {

// Creates or opens a key under HKEY_CLASSES_ROOT and sets its default value; a key that cannot be created is skipped.
void WriteDefaultValue(const char16_t* keyName, const char16_t* value) {
    platform::HKEY key = NULL;
    platform::DWORD disposition = 0;
    if (platform::RegCreateKeyExW(platform::HKEY_CLASSES_ROOT, keyName, 0, NULL, 0, 0, NULL, &key,
                                  &disposition) != platform::ERROR_SUCCESS) {
        return;
    }
    auto size = static_cast<platform::DWORD>((text::WideLength(value) + 1) * sizeof(char16_t));
    platform::RegSetValueExW(key, NULL, 0, platform::REG_SZ, reinterpret_cast<const platform::BYTE*>(value), size);
    platform::RegCloseKey(key);
}

// The launcher's path, in a buffer that grows until the platform hands out
// the whole path; null when the path cannot be had.
char16_t* LauncherPath(platform::HMODULE module) {
    // Windows paths stop short of 32768 characters.
    for (platform::DWORD capacity = 256; capacity <= 65536; capacity *= 2) {
        auto* buffer = static_cast<char16_t*>(std::malloc(capacity * sizeof(char16_t)));
        platform::DWORD room = capacity;
        platform::DWORD length = platform::GetModuleFileNameW(module, buffer, room);
        if (length == 0) {
            std::free(buffer);
            return NULL;
        }
        // A result that fills the room may have been cut; a truncated path
        // in the registry would send the shell to the wrong program.
        if (length < room) {
            buffer[length] = 0;
            return buffer;
        }
        std::free(buffer);
    }
    return NULL;
}

}  // namespace

void RegisterFileType() {
    char16_t* path = LauncherPath(platform::GetModuleHandleW(NULL));
    trace::DebugTrace(u"Registering Kel Info");
    RegistrationRow rows[kRegistrationRowCount];
    int32_t count = RegistrationRows(path, rows);
    for (int32_t i = 0; i < count; ++i) WriteDefaultValue(rows[i].key, rows[i].value);
    FreeRegistrationRows(rows, count);
    std::free(path);
}

}  // namespace filetype
