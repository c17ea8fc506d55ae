// The program's entry.
//
// On the device, WinMain is handed the command line after the program name,
// blanks and all. On desktop Windows the C runtime hands wWinMain a command
// line with every blank after the program name dropped. The launcher's users
// rely on leading spaces (a prefix section, a merged line), so there the text
// is taken from GetCommandLineW instead: everything after the program name,
// quoted or not, and after one separating space.
#include "launcher/launcher.h"
#include "platform/win32/win32.h"

#ifdef UNDER_CE

// The device has no wWinMain: its WinMain takes the wide command line.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show) {
    return launcher::Launch(reinterpret_cast<platform::HINSTANCE>(instance),
                            reinterpret_cast<platform::HINSTANCE>(previous),
                            reinterpret_cast<const char16_t*>(commandLine), show);
}

#else

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
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesProc)(DWORD);
    SetDefaultDllDirectoriesProc setDefault = reinterpret_cast<SetDefaultDllDirectoriesProc>(
        platform::win32::Export(::GetModuleHandleW(L"kernel32.dll"), L"SetDefaultDllDirectories"));
    if (setDefault != NULL) setDefault(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR, int show) {
    SearchLibrariesInSafeFoldersOnly();
    return launcher::Launch(reinterpret_cast<platform::HINSTANCE>(instance),
                            reinterpret_cast<platform::HINSTANCE>(previous),
                            reinterpret_cast<const char16_t*>(DeviceCommandLine()), show);
}

#endif
