/* The contract between the launcher, an engine and the packager: every name
 * and number one of them writes and another reads.
 *
 * It is C89 and C++98 and depends on nothing but <stddef.h>, so that an
 * engine written in C, or built with a device's own compiler, includes it
 * beside <windows.h>, and kelpack beside the standard library. Each name is
 * spelled once, as a narrow literal; KEL_WIDE makes the wide literal the
 * platform's W functions take:
 *
 *     HWND splash = FindWindowW(KEL_WIDE(KEL_SPLASH_CLASS_NAME), NULL);
 *
 * Resource names and types are matched by the platform without regard to
 * letter case. C++ compilers that know char16_t also get the names as
 * kel::k... constants of 16-bit text, which is what the launcher and kelpack
 * use.
 */
#ifndef KEL_KEL_H
#define KEL_KEL_H

#include <stddef.h>

/* ---------------------------------------------------------------- what a launcher copy carries */

/* The application package, read by the engine through the launcher's module. */
#define KEL_APPLICATION_RESOURCE_TYPE "KELFILE"
#define KEL_APPLICATION_RESOURCE_NAME "KEL-APPLICATION.KEL"
/* The type of the launcher's text resources. */
#define KEL_TEXT_RESOURCE_TYPE "Text"
/* The command line that starts the application: byte text, ended by its size or a NUL, CR or LF. */
#define KEL_COMMAND_LINE_RESOURCE_NAME "CommandLine"
/* The splash configuration ("SplashScreen=WxH;Name|...|SplashScreenTitle=Title"). */
#define KEL_CONFIG_RESOURCE_NAME "CONFIG"
/* The type of the splash bitmaps, named by the configuration. */
#define KEL_SPLASH_RESOURCE_TYPE "SplashScreen"
/* The application's icon group, also the icon of .kel files. */
#define KEL_ICON_GROUP_ID 50
/* The mark of a copy ready for high-resolution screens, read by the device,
 * not by the launcher: a resource of this type and name holding one 16-bit
 * value, KEL_HI_RES_AWARE_VALUE. Without it a Pocket PC with a 480x640
 * screen (CE 4.21 on) tells the copy, and the engine it loads, that the
 * screen is 240x320, and doubles every pixel. */
#define KEL_HI_RES_AWARE_RESOURCE_TYPE "CEUX"
#define KEL_HI_RES_AWARE_RESOURCE_NAME "HI_RES_AWARE"
#define KEL_HI_RES_AWARE_VALUE 1

/* ---------------------------------------------------------------- a running engine */

/* Posted, with both parameters 0, to the engine's window (its class is the
 * target name) when a second start hands over to the running instance:
 * WM_USER + 14. */
#define KEL_ACTIVATION_MESSAGE 0x040E
/* The splash window's class; the engine dismisses the window when it is ready. */
#define KEL_SPLASH_CLASS_NAME "KEL_SPLASH"
/* Under HKEY_LOCAL_MACHINE: the key and value where a running engine keeps
 * the loopback port it takes one-line commands on (low 16 bits; 0: none). */
#define KEL_ENGINE_KEY "Software\\Norvane\\KelVM"
#define KEL_SERVER_PORT_VALUE "ServerPort"

/* ---------------------------------------------------------------- the file type */

/* Under HKEY_CLASSES_ROOT: the file extension and the class it names. */
#define KEL_FILE_EXTENSION ".kel"
#define KEL_FILE_CLASS "KelFile10"
/* The class's subkey whose default value names the engine library when it is not found by name. */
#define KEL_ENGINE_PATH_KEY "KelFile10\\DLL"

/* ---------------------------------------------------------------- the engine library */

/* Found through the platform's library search (on the desktop: the
 * launcher's folder and the system folders; on the device: the launcher's
 * folder, \Windows and the ROM), else through KEL_ENGINE_PATH_KEY. */
#define KEL_ENGINE_LIBRARY_NAME "Kel.dll"
/* The entry routine, exported undecorated with the default calling convention. */
#define KEL_ENTRY_NAME "KelMainW"

/* The entry routine's type. Its arguments: the instance and previous
 * instance as the platform passed them, the final command line (valid for
 * the whole call), the show flag, the launcher's module and the engine's own
 * module. Its result is the launcher's exit code. An engine defines
 *
 *     __declspec(dllexport) int KelMainW(void* instance, void* previousInstance,
 *         const wchar_t* commandLine, int show, void* launcherModule, void* engineModule)
 *
 * (in C++ inside extern "C"); the handles may be spelled HINSTANCE and HMODULE. */
typedef int (*KelMainWProc)(void* instance, void* previousInstance, const wchar_t* commandLine, int show,
                            void* launcherModule, void* engineModule);

/* A literal of the names above as the platform's wide text. */
#define KEL_WIDE(literal) KEL_WIDE_(literal)
#define KEL_WIDE_(literal) L##literal

#if defined(__cplusplus) && (__cplusplus >= 201103L || defined(__GXX_EXPERIMENTAL_CXX0X__))
#define KEL_U16_(literal) u##literal
#define KEL_U16(literal) KEL_U16_(literal)

namespace kel {

/* The names above as 16-bit text (char16_t is 16 bits on every target; on
 * Windows a const wchar_t* may point at them). */
const char16_t kApplicationResourceType[] = KEL_U16(KEL_APPLICATION_RESOURCE_TYPE);
const char16_t kApplicationResourceName[] = KEL_U16(KEL_APPLICATION_RESOURCE_NAME);
const char16_t kTextResourceType[] = KEL_U16(KEL_TEXT_RESOURCE_TYPE);
const char16_t kCommandLineResourceName[] = KEL_U16(KEL_COMMAND_LINE_RESOURCE_NAME);
const char16_t kConfigResourceName[] = KEL_U16(KEL_CONFIG_RESOURCE_NAME);
const char16_t kSplashResourceType[] = KEL_U16(KEL_SPLASH_RESOURCE_TYPE);
const unsigned short kIconGroupId = KEL_ICON_GROUP_ID;
const char16_t kHiResAwareResourceType[] = KEL_U16(KEL_HI_RES_AWARE_RESOURCE_TYPE);
const char16_t kHiResAwareResourceName[] = KEL_U16(KEL_HI_RES_AWARE_RESOURCE_NAME);
const unsigned short kHiResAwareValue = KEL_HI_RES_AWARE_VALUE;
const unsigned int kActivationMessage = KEL_ACTIVATION_MESSAGE;
const char16_t kSplashClassName[] = KEL_U16(KEL_SPLASH_CLASS_NAME);
const char16_t kEngineKey[] = KEL_U16(KEL_ENGINE_KEY);
const char16_t kServerPortValue[] = KEL_U16(KEL_SERVER_PORT_VALUE);
const char16_t kFileExtension[] = KEL_U16(KEL_FILE_EXTENSION);
const char16_t kFileClass[] = KEL_U16(KEL_FILE_CLASS);
const char16_t kEnginePathKey[] = KEL_U16(KEL_ENGINE_PATH_KEY);
const char16_t kEngineLibraryName[] = KEL_U16(KEL_ENGINE_LIBRARY_NAME);
const char16_t kEntryName[] = KEL_U16(KEL_ENTRY_NAME);

/* KelMainWProc with the command line as 16-bit text, as the launcher calls it. */
typedef int (*KelMainWProc)(void* instance, void* previousInstance, const char16_t* commandLine, int show,
                            void* launcherModule, void* engineModule);

}  /* namespace kel */
#endif

#endif /* KEL_KEL_H */
