#include "filetype/registration.h"

#include <cstdlib>
#include <cstring>

#include "contract/kel.h"
#include "text/text.h"

namespace filetype {
namespace {

void AddRow(RegistrationRow* rows, int32_t* count, char16_t* key, char16_t* value) {
    rows[*count].key = key;
    rows[*count].value = value;
    ++*count;
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

// The rows for a launcher at \Windows\Shop.exe:
//
//   key                               value
//   KelFile10                         Kel Application
//   KelFile10\Shell\Open\Command      "\Windows\Shop.exe" "%1"
//   KelFile10\DefaultIcon             \Windows\Shop.exe,-50
//   KelFile10\DLL                     \Windows\Shop.DLL
//   .kel                              KelFile10
int32_t RegistrationRows(const char16_t* launcherPath, RegistrationRow rows[kRegistrationRowCount]) {
    int32_t count = 0;
    AddRow(rows, &count, text::WideJoin(kel::kFileClass, u""), text::WideJoin(u"Kel Application", u""));
    if (launcherPath != NULL) {
        char16_t* quoted = text::WideJoin(u"\"", launcherPath);
        AddRow(rows, &count, text::WideJoin(kel::kFileClass, u"\\Shell\\Open\\Command"), text::WideJoin(quoted, u"\" \"%1\""));
        std::free(quoted);
        static_assert(kel::kIconGroupId == 50, "the icon's value names icon group 50");
        AddRow(rows, &count, text::WideJoin(kel::kFileClass, u"\\DefaultIcon"), text::WideJoin(launcherPath, u",-50"));
        AddRow(rows, &count, text::WideJoin(kel::kEnginePathKey, u""), EnginePathFor(launcherPath));
    }
    AddRow(rows, &count, text::WideJoin(kel::kFileExtension, u""), text::WideJoin(kel::kFileClass, u""));
    return count;
}

void FreeRegistrationRows(RegistrationRow* rows, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        std::free(rows[i].key);
        std::free(rows[i].value);
    }
}

}  // namespace filetype
