// Shared by the end-to-end helper programs: they run inside Wine, take their
// instructions from their arguments and answer on standard output as
// "key=value" lines in UTF-8, which the Python scenarios read.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace helper {

// Writes bytes to standard output as they are: no text-mode translation.
inline void Out(const char* bytes, size_t length) {
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes, static_cast<DWORD>(length), &written, nullptr);
}

inline void Line(const char* key, const char* value) {
    Out(key, std::strlen(key));
    Out("=", 1);
    Out(value, std::strlen(value));
    Out("\n", 1);
}

inline void LineNumber(const char* key, long long value) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld", value);
    Line(key, text);
}

// Text as UTF-8, with line breaks shown as \n so that one value stays on one line.
inline void LineWide(const char* key, const wchar_t* text) {
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    char* utf8 = static_cast<char*>(std::malloc(static_cast<size_t>(size) * 2 + 1));
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, size, nullptr, nullptr);
    char* escaped = static_cast<char*>(std::malloc(static_cast<size_t>(size) * 2 + 1));
    char* out = escaped;
    for (const char* c = utf8; *c != 0; ++c) {
        if (*c == '\n') { *out++ = '\\'; *out++ = 'n'; }
        else if (*c == '\r') { *out++ = '\\'; *out++ = 'r'; }
        else if (*c == '\\') { *out++ = '\\'; *out++ = '\\'; }
        else *out++ = *c;
    }
    *out = 0;
    Line(key, escaped);
    std::free(utf8);
    std::free(escaped);
}

// Decodes hex digits (two per byte) of UTF-8 text into a new wide string; null when malformed.
inline wchar_t* WideFromHexUtf8(const wchar_t* hex) {
    size_t digits = std::wcslen(hex);
    if (digits % 2 != 0) return nullptr;
    char* bytes = static_cast<char*>(std::malloc(digits / 2 + 1));
    for (size_t i = 0; i < digits / 2; ++i) {
        wchar_t pair[3] = {hex[2 * i], hex[2 * i + 1], 0};
        wchar_t* end = nullptr;
        unsigned long value = std::wcstoul(pair, &end, 16);
        if (end != pair + 2) {
            std::free(bytes);
            return nullptr;
        }
        bytes[i] = static_cast<char>(value);
    }
    int count = static_cast<int>(digits / 2);
    int units = count == 0 ? 0 : ::MultiByteToWideChar(CP_UTF8, 0, bytes, count, nullptr, 0);
    wchar_t* text = static_cast<wchar_t*>(std::calloc(static_cast<size_t>(units) + 1, sizeof(wchar_t)));
    if (units > 0) ::MultiByteToWideChar(CP_UTF8, 0, bytes, count, text, units);
    std::free(bytes);
    return text;
}

// Appends one line to a record file; each line is written whole.
inline void Append(const wchar_t* path, const char* line) {
    HANDLE file = ::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    ::CloseHandle(file);
}

inline int Fail(const char* why) {
    Line("error", why);
    return 2;
}

}  // namespace helper
