// Runs the programs being measured inside Wine, one at a time, and watches them.
//
//   benchrun entry  ROUNDS WARMUP NOTE-FILE PROGRAM...
//       (a PROGRAM written PATH::ARGUMENTS is started with those arguments)
//       Each round starts every PROGRAM once and waits for it to end; the
//       order alternates from one round to the next (A B, B A, ...), so
//       neither program always runs in the other's wake. Prints per run:
//       "entry <round> <program index> <microseconds to engine entry> <exit code>".
//   benchrun splash ROUNDS WARMUP NOTE-FILE RRGGBB POLL-MS PROGRAM
//       Starts PROGRAM and, from outside it, waits for a window of class
//       KEL_SPLASH and then for the pixel at its centre on the screen to take
//       the colour RRGGBB, looking every POLL-MS milliseconds (0: without
//       pause, which costs the program being watched some of its processor
//       time on a small machine). Prints per run:
//       "splash <round> <entry us> <start to window us> <window to paint us> <exit code> <white seen>".
//
// Rounds below WARMUP are printed with "warmup" in place of the round number.
// The timing engine writes the entry time to NOTE-FILE, which is removed
// before each start. A run that goes wrong prints "fail <round> <reason>".
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0602  // GetSystemTimePreciseAsFileTime
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {

const DWORD kRunTimeoutMs = 30000;
const DWORD kWatchTimeoutMs = 10000;

long long Ticks(const FILETIME& t) {
    return static_cast<long long>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

long long Now() {
    FILETIME t;
    GetSystemTimePreciseAsFileTime(&t);
    return Ticks(t);
}

// The note the timing engine left, in microseconds; -1 when there is none.
long long ReadNote(const wchar_t* path) {
    FILE* f = _wfopen(path, L"rb");
    if (f == nullptr) return -1;
    long long value = -1;
    if (std::fscanf(f, "%lld", &value) != 1) value = -1;
    std::fclose(f);
    return value;
}

// Starts the program with its own folder as the working folder, as the shell
// would. "PATH::ARGUMENTS" passes ARGUMENTS after the program's name.
bool Start(const wchar_t* spec, PROCESS_INFORMATION* process) {
    wchar_t program[MAX_PATH];
    const wchar_t* arguments = wcsstr(spec, L"::");
    size_t length = arguments != nullptr ? static_cast<size_t>(arguments - spec) : wcslen(spec);
    if (length >= MAX_PATH) return false;
    wmemcpy(program, spec, length);
    program[length] = 0;
    arguments = arguments != nullptr ? arguments + 2 : nullptr;

    wchar_t folder[MAX_PATH];
    wcscpy(folder, program);
    wchar_t* slash = wcsrchr(folder, L'\\');
    if (slash != nullptr) *slash = 0;
    static wchar_t commandLine[32768];
    if (arguments != nullptr) {
        _snwprintf(commandLine, 32767, L"\"%ls\" %ls", program, arguments);
    } else {
        _snwprintf(commandLine, 32767, L"\"%ls\"", program);
    }
    commandLine[32767] = 0;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    return CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, slash ? folder : nullptr,
                          &startup, process) != 0;
}

// Waits for the end of the run; the exit code, or -1 when it had to be stopped.
long Finish(PROCESS_INFORMATION* process) {
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process->hProcess, kRunTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process->hProcess, 1);
        WaitForSingleObject(process->hProcess, INFINITE);
        code = static_cast<DWORD>(-1);
    } else {
        GetExitCodeProcess(process->hProcess, &code);
    }
    CloseHandle(process->hThread);
    CloseHandle(process->hProcess);
    return static_cast<long>(code);
}

long long CreationTicks(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return Ticks(created);
}

void Label(int round, int warmup) {
    if (round < warmup) std::printf("warmup");
    else std::printf("%d", round - warmup);
}

int Entry(int rounds, int warmup, const wchar_t* note, int count, wchar_t** programs) {
    for (int round = 0; round < warmup + rounds; ++round) {
        for (int k = 0; k < count; ++k) {
            int index = (round % 2 == 0) ? k : count - 1 - k;
            DeleteFileW(note);
            PROCESS_INFORMATION process;
            if (!Start(programs[index], &process)) {
                std::printf("fail %d CreateProcess %lu\n", round, GetLastError());
                return 1;
            }
            long code = Finish(&process);
            std::printf("entry ");
            Label(round, warmup);
            std::printf(" %d %lld %ld\n", index, ReadNote(note), code);
            std::fflush(stdout);
        }
    }
    return 0;
}

// Between two looks; a zero pause still gives the processor up when another thread wants it.
void Pause(DWORD ms) {
    if (ms == 0) SwitchToThread();
    else Sleep(ms);
}

int Splash(int rounds, int warmup, const wchar_t* note, COLORREF colour, DWORD pollMs, const wchar_t* program) {
    // Long enough for the watcher to see the splash after the engine has
    // been entered; the entry time is taken before this wait.
    SetEnvironmentVariableW(L"KEL_BENCH_HOLD", L"300");
    HDC screen = GetDC(nullptr);
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    for (int round = 0; round < warmup + rounds; ++round) {
        // The last run's bitmap must be gone from the screen before the next start.
        for (int i = 0; i < 2000 && GetPixel(screen, screenWidth / 2, screenHeight / 2) == colour; ++i) Sleep(1);

        DeleteFileW(note);
        PROCESS_INFORMATION process;
        if (!Start(program, &process)) {
            std::printf("fail %d CreateProcess %lu\n", round, GetLastError());
            return 1;
        }
        long long created = CreationTicks(process.hProcess);
        long long deadline = Now() + kWatchTimeoutMs * 10000LL;

        // Each time is taken when a look first succeeds: late by at most one pause and one look.
        HWND window = nullptr;
        while ((window = FindWindowW(L"KEL_SPLASH", nullptr)) == nullptr) {
            if (Now() > deadline || WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) break;
            Pause(pollMs);
        }
        long long shown = Now();
        long long painted = 0;
        int white = 0;
        const char* reason = nullptr;
        if (window == nullptr) {
            reason = "no-window";
        } else {
            RECT r;
            GetWindowRect(window, &r);
            int x = (r.left + r.right) / 2;
            int y = (r.top + r.bottom) / 2;
            for (;;) {
                COLORREF pixel = GetPixel(screen, x, y);
                if (pixel == colour) {
                    painted = Now();
                    break;
                }
                if (pixel == RGB(255, 255, 255)) white = 1;
                if (Now() > deadline || WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) {
                    reason = "no-paint";
                    break;
                }
                Pause(pollMs);
            }
        }
        long code = Finish(&process);
        if (reason != nullptr) {
            std::printf("fail %d %s exit %ld entry %lld\n", round, reason, code, ReadNote(note));
        } else {
            std::printf("splash ");
            Label(round, warmup);
            std::printf(" %lld %lld %lld %ld %d\n", ReadNote(note), (shown - created) / 10, (painted - shown) / 10,
                        code, white);
        }
        std::fflush(stdout);
    }
    ReleaseDC(nullptr, screen);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // The timing engine finds its note file through the environment it inherits.
    if (argc >= 5) SetEnvironmentVariableW(L"KEL_BENCH_OUT", argv[4]);
    if (argc >= 6 && wcscmp(argv[1], L"entry") == 0) {
        return Entry(_wtoi(argv[2]), _wtoi(argv[3]), argv[4], argc - 5, argv + 5);
    }
    if (argc == 8 && wcscmp(argv[1], L"splash") == 0) {
        unsigned long rgb = wcstoul(argv[5], nullptr, 16);
        COLORREF colour = RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
        return Splash(_wtoi(argv[2]), _wtoi(argv[3]), argv[4], colour, static_cast<DWORD>(_wtoi(argv[6])), argv[7]);
    }
    std::fprintf(stderr,
                 "usage: benchrun entry ROUNDS WARMUP NOTE-FILE PROGRAM...\n"
                 "       benchrun splash ROUNDS WARMUP NOTE-FILE RRGGBB POLL-MS PROGRAM\n");
    return 2;
}
