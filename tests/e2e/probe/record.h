// The sample engine's record: one "key=value" line per thing that happened,
// appended to the file named by KEL_ENGINE_RECORD, so that a test or the
// demo can read what the engine received and did. Without the variable
// nothing is written.
#pragma once

#include <windows.h>

#include <cstddef>

namespace engine {

// Opens the record named by KEL_ENGINE_RECORD (a Windows path, or a Unix
// path, which is taken to lie on drive Z: as Wine maps it).
void OpenRecord();
// Appends "key=value" and a newline; value is UTF-8.
void Record(const char* key, const char* value);
// Appends "key=" and the 16-bit units of text as four hex digits each.
void RecordWideHex(const char* key, const wchar_t* text, size_t count);
// Appends "key=" and the bytes as two hex digits each.
void RecordBytesHex(const char* key, const void* bytes, size_t count);
// Appends "key=" and text converted to UTF-8.
void RecordWide(const char* key, const wchar_t* text);
// Appends "key=" and a number, in decimal.
void RecordNumber(const char* key, long long value);
// Appends "key=" and a pointer-sized value as 0x-prefixed hex.
void RecordHandle(const char* key, const void* handle);

// An environment variable as a number, or fallback when it is unset or not a number.
long long EnvNumber(const char* name, long long fallback);

}  // namespace engine
