// The contract between the launcher, an engine and the packager: every name
// and number one of them writes and another reads. It depends on nothing, so
// an engine author can include it beside <windows.h> and kelpack beside the
// standard library.
//
// Texts are char16_t (the platform's 16-bit text on every target; on Windows
// a const wchar_t* may point at them). Resource names and types are matched
// by the platform without regard to letter case.
#pragma once

#include <cstdint>

namespace kel {

// ---------------------------------------------------------------- what a launcher copy carries

// The application package, read by the engine through the launcher's module.
inline constexpr char16_t kApplicationResourceType[] = u"KELFILE";
inline constexpr char16_t kApplicationResourceName[] = u"KEL-APPLICATION.KEL";
// The type of the launcher's text resources.
inline constexpr char16_t kTextResourceType[] = u"Text";
// The command line that starts the application: byte text, ended by its size or a NUL, CR or LF.
inline constexpr char16_t kCommandLineResourceName[] = u"CommandLine";
// The splash configuration ("SplashScreen=WxH;Name|...|SplashScreenTitle=Title").
inline constexpr char16_t kConfigResourceName[] = u"CONFIG";
// The type of the splash bitmaps, named by the configuration.
inline constexpr char16_t kSplashResourceType[] = u"SplashScreen";
// The application's icon group, also the icon of .kel files.
inline constexpr uint16_t kIconGroupId = 50;

// ---------------------------------------------------------------- a running engine

// Posted, with both parameters 0, to the engine's window (its class is the
// target name) when a second start hands over to the running instance.
inline constexpr uint32_t kActivationMessage = 0x400 + 14;   // WM_USER + 14, 1038
// The splash window's class; the engine dismisses the window when it is ready.
inline constexpr char16_t kSplashClassName[] = u"KEL_SPLASH";
// Under HKEY_LOCAL_MACHINE: the key and value where a running engine keeps
// the loopback port it takes one-line commands on (low 16 bits; 0: none).
inline constexpr char16_t kEngineKey[] = u"Software\\Norvane\\KelVM";
inline constexpr char16_t kServerPortValue[] = u"ServerPort";

// ---------------------------------------------------------------- the file type

// Under HKEY_CLASSES_ROOT: the file extension and the class it names.
inline constexpr char16_t kFileExtension[] = u".kel";
inline constexpr char16_t kFileClass[] = u"KelFile10";
// The class's subkey whose default value names the engine library when it is not found by name.
inline constexpr char16_t kEnginePathKey[] = u"KelFile10\\DLL";

// ---------------------------------------------------------------- the engine library

// Found through the platform's library search (on the desktop: the
// launcher's folder and the system folders), else through kEnginePathKey.
inline constexpr char16_t kEngineLibraryName[] = u"Kel.dll";
// The entry routine, exported undecorated with the default calling convention.
inline constexpr char16_t kEntryName[] = u"KelMainW";
// Its arguments: the instance and previous instance as the platform passed
// them, the final command line (valid for the whole call), the show flag,
// the launcher's module and the engine's own module. Its result is the
// launcher's exit code.
using KelMainWProc = int32_t (*)(void* instance, void* previousInstance, const char16_t* commandLine, int show,
                                 void* launcherModule, void* engineModule);

}  // namespace kel
