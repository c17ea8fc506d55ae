/* The engine the device runs load (tests/celoader): it records what KelMainW
 * was handed, one "engine ..." line each through OutputDebugStringW, and
 * returns the command line's length in 16-bit units. The loader's run of the
 * host build records the same lines with a Linux engine of its own.
 *
 * The check line passes a 64-bit value after a 32-bit one, so that it starts
 * in the last argument register and ends on the stack, as only the device
 * lays such an argument out: a loader that takes it the Linux way records a
 * different number. */
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <kel/kel.h>

__declspec(dllexport) int KelMainW(void* instance, void* previousInstance, const wchar_t* commandLine, int show,
                                   void* launcherModule, void* engineModule);
static const KelMainWProc kEntryMatchesTheContract = KelMainW;

__declspec(dllexport) int KelMainW(void* instance, void* previousInstance, const wchar_t* commandLine, int show,
                                   void* launcherModule, void* engineModule) {
    unsigned units = (unsigned)wcslen(commandLine), i;
    unsigned __int64 check = 14695981039346656037ULL; /* FNV-1a over the units */
    wchar_t* line = (wchar_t*)malloc((units * 4 + 64) * sizeof(wchar_t));
    wchar_t* at;
    (void)engineModule;
    (void)kEntryMatchesTheContract;
    if (line == NULL) return -1;
    wsprintfW(line, L"engine command_line_units=%u", units);
    OutputDebugStringW(line);
    at = line + wsprintfW(line, L"engine command_line=");
    for (i = 0; i < units; ++i) {
        at += wsprintfW(at, L"%04x", (unsigned)commandLine[i]);
        check = (check ^ commandLine[i]) * 1099511628211ULL;
    }
    OutputDebugStringW(line);
    wsprintfW(line, L"engine command_line_check=%u:%I64x", units, check);
    OutputDebugStringW(line);
    /* An inline read of the kernel's data page on the device. */
    wsprintfW(line, L"engine show=%d previous=%u instance_is_launcher=%d process=%u", show, (unsigned)previousInstance,
              instance == launcherModule, (unsigned)GetCurrentProcessId());
    OutputDebugStringW(line);
    free(line);
    return (int)units;
}
