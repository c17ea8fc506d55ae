#include "shell/register.h"

#include <cstdlib>
#include <cstring>

#include "contract/kel.h"
#include "platform/platform.h"
#include "text/text.h"
#include "trace/trace.h"

namespace shell {
namespace {

// Creates or opens a key under HKEY_CLASSES_ROOT and sets its default value; a key that cannot be created is skipped.
void WriteDefaultValue(const char16_t* keyName, const char16_t* value) {
    platform::HKEY key = nullptr;
    platform::DWORD disposition = 0;
    if (platform::RegCreateKeyExW(platform::HKEY_CLASSES_ROOT, keyName, 0, nullptr, 0, 0, nullptr, &key,
                                  &disposition) != platform::ERROR_SUCCESS) {
        return;
    }
    auto size = static_cast<platform::DWORD>((text::WideLength(value) + 1) * sizeof(char16_t));
    platform::RegSetValueExW(key, nullptr, 0, platform::REG_SZ, reinterpret_cast<const platform::BYTE*>(value), size);
    platform::RegCloseKey(key);
}

// The launcher's path in double quotes, in a buffer that grows until the
// platform hands out the whole path; null when the path cannot be had.
char16_t* QuotedLauncherPath(platform::HMODULE module) {
    // Room for the path, two quotes and the NUL; Windows paths stop short of 32768 characters.
    for (platform::DWORD capacity = 256; capacity <= 65536; capacity *= 2) {
        auto* buffer = static_cast<char16_t*>(std::malloc(capacity * sizeof(char16_t)));
        platform::DWORD room = capacity - 2;
        platform::DWORD length = platform::GetModuleFileNameW(module, buffer + 1, room);
        if (length == 0) {
            std::free(buffer);
            return nullptr;
        }
        // A result that fills the room may have been cut; a truncated path
        // in the registry would send the shell to the wrong program.
        if (length < room) {
            buffer[0] = u'"';
            buffer[length + 1] = u'"';
            buffer[length + 2] = 0;
            return buffer;
        }
        std::free(buffer);
    }
    return nullptr;
}

}  // namespace

Registration RegistrationFor(const char16_t* commandLine) {
    if (text::IsBlank(commandLine)) return Registration::kRegisterAndGoOn;
    if (commandLine[0] != u'+') return Registration::kNone;
    // Only spaces may follow; a tab or any other character makes "+" an ordinary argument.
    for (const char16_t* c = commandLine + 1; *c != 0; ++c) {
        if (*c != u' ') return Registration::kNone;
    }
    return Registration::kRegisterOnly;
}

char16_t* EnginePathFor(const char16_t* launcherPath) {
    int32_t length = text::WideLength(launcherPath);
    for (int32_t i = length - 1; i > 0; --i) {
        if (launcherPath[i] != u'.') continue;
        auto* path = static_cast<char16_t*>(std::malloc((static_cast<size_t>(i) + 5) * sizeof(char16_t)));
        std::memcpy(path, launcherPath, static_cast<size_t>(i) * sizeof(char16_t));
        std::memcpy(path + i, u".DLL", 5 * sizeof(char16_t));
        return path;
    }
    return text::WideJoin(launcherPath, u"");
}

void RegisterFileType() {
    char16_t* quoted = QuotedLauncherPath(platform::GetModuleHandleW(nullptr));
    trace::DebugTrace(u"Registering Kel Info");

    WriteDefaultValue(kel::kFileClass, u"Kel Application");
    if (quoted != nullptr) {
        char16_t* key = text::WideJoin(kel::kFileClass, u"\\Shell\\Open\\Command");
        char16_t* value = text::WideJoin(quoted, u" \"%1\"");
        WriteDefaultValue(key, value);
        std::free(key);
        std::free(value);

        // From here on the path without its quotes.
        quoted[text::WideLength(quoted) - 1] = 0;
        const char16_t* path = quoted + 1;

        key = text::WideJoin(kel::kFileClass, u"\\DefaultIcon");
        static_assert(kel::kIconGroupId == 50, "the icon's value names icon group 50");
        value = text::WideJoin(path, u",-50");
        WriteDefaultValue(key, value);
        std::free(key);
        std::free(value);

        key = text::WideJoin(kel::kFileClass, u"\\DLL");
        value = EnginePathFor(path);
        WriteDefaultValue(key, value);
        std::free(key);
        std::free(value);
        std::free(quoted);
    }
    WriteDefaultValue(kel::kFileExtension, kel::kFileClass);
}

}  // namespace shell
