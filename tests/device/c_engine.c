/* The smallest engine written in C: it shows the command line it was given
 * and the application package's size, then returns. It is built for the
 * device against the contract header alone, as an engine author's C build
 * would be. */
#include <windows.h>

#include <kel/kel.h>

/* The definition must match the contract's type: the compiler says so here. */
__declspec(dllexport) int KelMainW(void* instance, void* previousInstance, const wchar_t* commandLine, int show,
                                   void* launcherModule, void* engineModule);
static const KelMainWProc kEntryMatchesTheContract = KelMainW;

__declspec(dllexport) int KelMainW(void* instance, void* previousInstance, const wchar_t* commandLine, int show,
                                   void* launcherModule, void* engineModule) {
    HMODULE launcher = (HMODULE)launcherModule;
    HRSRC package = FindResourceW(launcher, KEL_WIDE(KEL_APPLICATION_RESOURCE_NAME),
                                  KEL_WIDE(KEL_APPLICATION_RESOURCE_TYPE));
    wchar_t text[64];
    (void)instance;
    (void)previousInstance;
    (void)show;
    (void)engineModule;
    (void)kEntryMatchesTheContract;
    wsprintfW(text, L"%u bytes of package", package != NULL ? (unsigned)SizeofResource(launcher, package) : 0u);
    MessageBoxW(NULL, commandLine, text, MB_OK);
    return 0;
}
