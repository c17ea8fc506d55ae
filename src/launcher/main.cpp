// The program's entry on desktop Windows.
//
// The C runtime hands wWinMain a command line with every blank after the
// program name dropped, which the device does not do. The launcher's users
// rely on leading spaces (a prefix section, a merged line), so the text is
// taken from GetCommandLineW instead: everything after the program name,
// quoted or not, and after one separating space.
#include "launcher/launcher.h"
#include "platform/win32/win32.h"

namespace {

const wchar_t* DeviceCommandLine() {
    const wchar_t* c = ::GetCommandLineW();
    if (*c == L'"') {
        ++c;
        while (*c != 0 && *c != L'"') ++c;
        if (*c == L'"') ++c;
    } else {
        while (*c != 0 && *c != L' ' && *c != L'\t') ++c;
    }
    if (*c == L' ' || *c == L'\t') ++c;
    return c;
}

// Desktop Windows also looks for a library loaded by name in the current
// directory, which the device has not: whoever could put a Kel.dll beside a
// document the user opens would run code in the launcher. From here on only
// the launcher's own folder and the system folders are searched; a full
// registered path loads as before. The routine is looked up at run time, so
// a system without it searches as it always did.
void SearchLibrariesInSafeFoldersOnly() {
    using SetDefaultDllDirectoriesProc = BOOL(WINAPI*)(DWORD);
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesProc>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefault != nullptr) setDefault(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR, int show) {
    SearchLibrariesInSafeFoldersOnly();
    return launcher::Launch(reinterpret_cast<platform::HINSTANCE>(instance),
                            reinterpret_cast<platform::HINSTANCE>(previous),
                            reinterpret_cast<const char16_t*>(DeviceCommandLine()), show);
}
