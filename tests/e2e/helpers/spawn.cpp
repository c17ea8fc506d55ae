// spawn.exe: starts a program with an exact command line and reports its exit code.
//
//   spawn.exe [--show N] [--cwd DIR] [--timeout MS] APPLICATION COMMANDLINE_HEX
//
// `wine program args` rebuilds the command line from Unix arguments and
// quotes as it sees fit; CreateProcessW passes ours byte for byte. The
// command line comes as hex of its UTF-8 bytes so that leading, trailing and
// doubled spaces, quotes and tabs survive every shell on the way. APPLICATION
// "-" leaves the program to be found from the command line itself.
//
// Prints pid=, then exit= (or timeout=1 after killing the program), and exits
// with the program's exit code.
#include "helper.h"

int wmain(int argc, wchar_t** argv) {
    int show = -1;
    const wchar_t* cwd = nullptr;
    DWORD timeout = 60000;
    int i = 1;
    for (; i + 1 < argc && argv[i][0] == L'-' && argv[i][1] == L'-'; i += 2) {
        if (std::wcscmp(argv[i], L"--show") == 0) show = _wtoi(argv[i + 1]);
        else if (std::wcscmp(argv[i], L"--cwd") == 0) cwd = argv[i + 1];
        else if (std::wcscmp(argv[i], L"--timeout") == 0) timeout = static_cast<DWORD>(_wtoi(argv[i + 1]));
        else return helper::Fail("unknown option");
    }
    if (argc - i != 2) return helper::Fail("usage: spawn.exe [--show N] [--cwd DIR] [--timeout MS] APPLICATION HEX");
    const wchar_t* application = std::wcscmp(argv[i], L"-") == 0 ? nullptr : argv[i];
    wchar_t* commandLine = helper::WideFromHexUtf8(argv[i + 1]);
    if (commandLine == nullptr) return helper::Fail("command line is not hex");

    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (show >= 0) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(show);
    }
    PROCESS_INFORMATION process;
    if (!::CreateProcessW(application, commandLine, nullptr, nullptr, FALSE, 0, nullptr, cwd, &startup, &process)) {
        helper::LineNumber("create_error", ::GetLastError());
        return 2;
    }
    helper::LineNumber("pid", process.dwProcessId);
    if (::WaitForSingleObject(process.hProcess, timeout) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.hProcess, 124);
        helper::Line("timeout", "1");
        return 124;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    helper::LineNumber("exit", static_cast<int>(code));
    return static_cast<int>(code);
}
