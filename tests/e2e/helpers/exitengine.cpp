// A library that loads as Kel.dll and ends the whole process from inside its
// entry routine, without returning to the launcher: exit code 37, or
// KEL_ENGINE_EXIT when it is set. Before it goes it writes "entered" to
// KEL_ENGINE_RECORD, so a test knows the routine really ran.
#include <windows.h>

#include <cwchar>

extern "C" __declspec(dllexport) int KelMainW(HINSTANCE, HINSTANCE, const wchar_t*, int, HMODULE, HMODULE) {
    wchar_t value[64];
    UINT code = 37;
    if (::GetEnvironmentVariableW(L"KEL_ENGINE_EXIT", value, 64) - 1 < 63) code = std::wcstoul(value, nullptr, 10);
    wchar_t path[1024];
    DWORD n = ::GetEnvironmentVariableW(L"KEL_ENGINE_RECORD", path, 1024);
    if (n > 0 && n < 1024) {
        HANDLE file = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            ::WriteFile(file, "entered=1\n", 10, &written, nullptr);
            ::CloseHandle(file);
        }
    }
    ::ExitProcess(code);
}
