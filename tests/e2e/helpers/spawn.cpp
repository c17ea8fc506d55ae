// spawn.exe: starts a program with an exact command line and reports its exit code.
//
//   spawn.exe [--show N] [--cwd DIR] [--timeout MS] [--desktop NAME] [--out FILE] APPLICATION COMMANDLINE_HEX
//
// `wine program args` rebuilds the command line from Unix arguments and
// quotes as it sees fit; CreateProcessW passes ours byte for byte. The
// command line comes as hex of its UTF-8 bytes so that leading, trailing and
// doubled spaces, quotes and tabs survive every shell on the way. APPLICATION
// "-" leaves the program to be found from the command line itself.
// COMMANDLINE_HEX "@FILE" reads the hex from FILE instead: a command line
// near the platform's limit does not fit in spawn.exe's own as hex.
// --desktop starts it on another desktop, such as a Wine virtual desktop of
// a given screen size. (Wine puts only the new process's first thread on
// that desktop; threads it starts later land on the default desktop. A
// program whose every thread must be on a virtual desktop is best started
// from a spawn.exe that itself runs there, under `explorer /desktop=NAME`;
// --out then gives its report a way out that does not depend on explorer.)
//
// Prints spawn= (its own process id) before anything else, so that the
// harness can tell a start that reached spawn.exe from one that Wine failed
// before any program of ours ran; then pid=, then exit= (or timeout=1 after
// killing the program), and exits with the program's exit code.
#include "helper.h"

namespace {

// One line to standard output and, when asked, to a file.
void Report(const wchar_t* out, const char* line) {
    helper::Out(line, std::strlen(line));
    if (out != nullptr) helper::Append(out, line);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int show = -1;
    const wchar_t* cwd = nullptr;
    wchar_t* desktop = nullptr;
    const wchar_t* out = nullptr;
    DWORD timeout = 60000;
    const char* problem = nullptr;
    int i = 1;
    for (; i + 1 < argc && argv[i][0] == L'-' && argv[i][1] == L'-'; i += 2) {
        if (std::wcscmp(argv[i], L"--show") == 0) show = _wtoi(argv[i + 1]);
        else if (std::wcscmp(argv[i], L"--cwd") == 0) cwd = argv[i + 1];
        else if (std::wcscmp(argv[i], L"--timeout") == 0) timeout = static_cast<DWORD>(_wtoi(argv[i + 1]));
        else if (std::wcscmp(argv[i], L"--desktop") == 0) desktop = argv[i + 1];
        else if (std::wcscmp(argv[i], L"--out") == 0) out = argv[i + 1];
        else {
            problem = "unknown option";
            break;
        }
    }
    // The first thing said, even about bad arguments: it shows the program was reached.
    char line[64];
    std::snprintf(line, sizeof line, "spawn=%lu\n", ::GetCurrentProcessId());
    Report(out, line);
    if (problem != nullptr) return helper::Fail(problem);
    if (argc - i != 2) {
        return helper::Fail("usage: spawn.exe [--show N] [--cwd DIR] [--timeout MS] [--desktop NAME] [--out FILE] APPLICATION HEX");
    }
    const wchar_t* application = std::wcscmp(argv[i], L"-") == 0 ? nullptr : argv[i];
    wchar_t* hex = argv[i + 1];
    if (hex[0] == L'@') {
        HANDLE file = ::CreateFileW(hex + 1, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return helper::Fail("cannot open the command line file");
        DWORD size = ::GetFileSize(file, nullptr);
        char* bytes = static_cast<char*>(std::malloc(size + 1));
        DWORD got = 0;
        BOOL read = ::ReadFile(file, bytes, size, &got, nullptr);
        ::CloseHandle(file);
        if (!read || got != size) return helper::Fail("cannot read the command line file");
        hex = static_cast<wchar_t*>(std::calloc(size + 1, sizeof(wchar_t)));
        for (DWORD k = 0; k < size; ++k) hex[k] = static_cast<unsigned char>(bytes[k]);
        std::free(bytes);
    }
    wchar_t* commandLine = helper::WideFromHexUtf8(hex);
    if (commandLine == nullptr) return helper::Fail("command line is not hex");

    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop;
    if (show >= 0) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(show);
    }
    PROCESS_INFORMATION process;
    if (!::CreateProcessW(application, commandLine, nullptr, nullptr, FALSE, 0, nullptr, cwd, &startup, &process)) {
        std::snprintf(line, sizeof line, "create_error=%lu\n", ::GetLastError());
        Report(out, line);
        return 2;
    }
    std::snprintf(line, sizeof line, "pid=%lu\n", process.dwProcessId);
    Report(out, line);
    if (::WaitForSingleObject(process.hProcess, timeout) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.hProcess, 124);
        Report(out, "timeout=1\n");
        return 124;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    std::snprintf(line, sizeof line, "exit=%d\n", static_cast<int>(code));
    Report(out, line);
    return static_cast<int>(code);
}
