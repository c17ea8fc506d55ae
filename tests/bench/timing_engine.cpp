// A stand-in engine for the start-up figures: it notes how long after the
// process was created its entry routine was reached, and returns at once.
//
// It imports KERNEL32 only, so that it adds no DLL of its own to either
// program it is loaded by; whatever else is loaded before its entry is the
// loader's doing. (The sample engine notes its entry the same way, for the
// figures against an engine that imports what a real one does.)
//
// KEL_BENCH_OUT   file to which one line "<microseconds>\r\n" is appended
// KEL_BENCH_HOLD  milliseconds to stay inside the entry routine after the
//                 note is written, so that a splash outlives its first paint
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0602  // GetSystemTimePreciseAsFileTime
#include <windows.h>

namespace {

unsigned long long Ticks(const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// Decimal text of a signed value; no C runtime formatting, so no locale work.
int Format(long long value, char* out) {
    char digits[24];
    int n = 0;
    bool negative = value < 0;
    unsigned long long v = negative ? 0ull - static_cast<unsigned long long>(value) : value;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    int length = 0;
    if (negative) out[length++] = '-';
    while (n > 0) out[length++] = digits[--n];
    out[length++] = '\r';
    out[length++] = '\n';
    return length;
}

DWORD EnvNumber(const wchar_t* name) {
    wchar_t text[16];
    DWORD length = GetEnvironmentVariableW(name, text, 16);
    if (length == 0 || length >= 16) return 0;
    DWORD value = 0;
    for (DWORD i = 0; i < length && text[i] >= L'0' && text[i] <= L'9'; ++i) value = value * 10 + (text[i] - L'0');
    return value;
}

}  // namespace

extern "C" __declspec(dllexport) int KelMainW(HINSTANCE, HINSTANCE, const wchar_t*, int, HMODULE, HMODULE) {
    // Taken first: everything below is after the moment being measured.
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);

    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 2;
    long long micros = static_cast<long long>(Ticks(now) - Ticks(created)) / 10;

    wchar_t path[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"KEL_BENCH_OUT", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 3;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 4;
    char line[32];
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(Format(micros, line)), &written, nullptr);
    CloseHandle(file);

    DWORD hold = EnvNumber(L"KEL_BENCH_HOLD");
    if (hold != 0) Sleep(hold);
    return 0;
}
