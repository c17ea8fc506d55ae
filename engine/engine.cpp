// The sample engine: the smallest engine that meets the launcher's contract.
#include <windows.h>

extern "C" __declspec(dllexport) int KelMainW(HINSTANCE, HINSTANCE, const wchar_t*, int, HMODULE, HMODULE) {
    return 0;
}
