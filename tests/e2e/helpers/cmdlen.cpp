// cmdlen.exe: prints what the platform handed it as its command line, as
// units= (its length in 16-bit units) and line= (the hex of its UTF-8 bytes),
// so that a test can tell what the platform delivers from what a program did.
#include "helper.h"

int wmain(int, wchar_t**) {
    const wchar_t* line = ::GetCommandLineW();
    size_t units = std::wcslen(line);
    char head[64];
    std::snprintf(head, sizeof head, "units=%zu\n", units);
    helper::Out(head, std::strlen(head));
    int bytes = ::WideCharToMultiByte(CP_UTF8, 0, line, static_cast<int>(units), nullptr, 0, nullptr, nullptr);
    char* utf8 = static_cast<char*>(std::malloc(static_cast<size_t>(bytes) + 1));
    ::WideCharToMultiByte(CP_UTF8, 0, line, static_cast<int>(units), utf8, bytes, nullptr, nullptr);
    char* hex = static_cast<char*>(std::malloc(static_cast<size_t>(bytes) * 2 + 8));
    std::memcpy(hex, "line=", 5);
    for (int i = 0; i < bytes; ++i) std::snprintf(hex + 5 + 2 * i, 3, "%02x", static_cast<unsigned char>(utf8[i]));
    std::strcpy(hex + 5 + 2 * bytes, "\n");
    helper::Out(hex, std::strlen(hex));
    return 0;
}
