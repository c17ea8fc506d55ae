#include "record.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace engine {
namespace {

HANDLE g_record = INVALID_HANDLE_VALUE;

// Writes one whole line with a single call, so that two engines appending to
// the same record never interleave inside a line.
void WriteLine(const char* line, size_t length) {
    if (g_record == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(g_record, line, static_cast<DWORD>(length), &written, nullptr);
}

void WriteKeyValue(const char* key, const char* value, size_t valueLength) {
    if (g_record == INVALID_HANDLE_VALUE) return;
    size_t keyLength = std::strlen(key);
    size_t total = keyLength + 1 + valueLength + 1;
    char* line = static_cast<char*>(std::malloc(total));
    if (line == nullptr) return;
    std::memcpy(line, key, keyLength);
    line[keyLength] = '=';
    std::memcpy(line + keyLength + 1, value, valueLength);
    line[total - 1] = '\n';
    WriteLine(line, total);
    std::free(line);
}

}  // namespace

void OpenRecord() {
    wchar_t name[1024];
    DWORD length = ::GetEnvironmentVariableW(L"KEL_ENGINE_RECORD", name, 1024);
    if (length == 0 || length >= 1024) return;
    wchar_t path[1030];
    if (name[0] == L'/') {
        // A Unix path from the test's shell: Wine shows the Unix root as Z:.
        path[0] = L'Z';
        path[1] = L':';
        std::memcpy(path + 2, name, (length + 1) * sizeof(wchar_t));
    } else {
        std::memcpy(path, name, (length + 1) * sizeof(wchar_t));
    }
    g_record = ::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
}

void Record(const char* key, const char* value) { WriteKeyValue(key, value, std::strlen(value)); }

void RecordWideHex(const char* key, const wchar_t* text, size_t count) {
    char* hex = static_cast<char*>(std::malloc(count * 4 + 1));
    if (hex == nullptr) return;
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(hex + i * 4, 5, "%04x", static_cast<unsigned>(static_cast<unsigned short>(text[i])));
    }
    WriteKeyValue(key, hex, count * 4);
    std::free(hex);
}

void RecordBytesHex(const char* key, const void* bytes, size_t count) {
    const unsigned char* b = static_cast<const unsigned char*>(bytes);
    char* hex = static_cast<char*>(std::malloc(count * 2 + 1));
    if (hex == nullptr) return;
    for (size_t i = 0; i < count; ++i) std::snprintf(hex + i * 2, 3, "%02x", b[i]);
    WriteKeyValue(key, hex, count * 2);
    std::free(hex);
}

void RecordWide(const char* key, const wchar_t* text) {
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return;
    char* utf8 = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
    if (utf8 == nullptr) return;
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, size, nullptr, nullptr);
    // A line break inside the value would start a new record line.
    for (char* c = utf8; *c != 0; ++c) {
        if (*c == '\r' || *c == '\n') *c = ' ';
    }
    Record(key, utf8);
    std::free(utf8);
}

void RecordNumber(const char* key, long long value) {
    char number[32];
    std::snprintf(number, sizeof number, "%lld", value);
    Record(key, number);
}

void RecordHandle(const char* key, const void* handle) {
    char number[32];
    std::snprintf(number, sizeof number, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handle)));
    Record(key, number);
}

long long EnvNumber(const char* name, long long fallback) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == 0) return fallback;
    char* end = nullptr;
    long long number = std::strtoll(value, &end, 10);
    return (end != nullptr && *end == 0) ? number : fallback;
}

}  // namespace engine
