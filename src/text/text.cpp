#include "text/text.h"

#include <cstdlib>
#include <cstring>

namespace text {

int32_t WideLength(const char16_t* s) {
    int32_t n = 0;
    while (s[n] != 0) ++n;
    return n;
}

char16_t* WideJoin(const char16_t* a, const char16_t* b) {
    int32_t la = WideLength(a);
    int32_t lb = WideLength(b);
    auto* joined = static_cast<char16_t*>(std::malloc((static_cast<size_t>(la) + lb + 1) * sizeof(char16_t)));
    std::memcpy(joined, a, static_cast<size_t>(la) * sizeof(char16_t));
    std::memcpy(joined + la, b, static_cast<size_t>(lb) * sizeof(char16_t));
    joined[la + lb] = 0;
    return joined;
}

bool IsBlank(const char16_t* s) {
    for (; *s != 0; ++s) {
        if (static_cast<uint16_t>(*s) > 32) return false;
    }
    return true;
}

char16_t* Widen(const char* bytes, int32_t count) {
    if (count == -1) count = static_cast<int32_t>(std::strlen(bytes));
    // The byte count is checked in 64 bits against 32: on the device, and in
    // any 32-bit build, (count + 1) * 2 would wrap for counts near 2^31 and
    // leave a tiny block to write a huge text into.
    if (count < 0 || (static_cast<uint64_t>(count) + 1) * sizeof(char16_t) > UINT32_MAX) return NULL;
    auto* wide = static_cast<char16_t*>(std::malloc((static_cast<size_t>(count) + 1) * sizeof(char16_t)));
    if (wide == NULL) return NULL;
    for (int32_t i = 0; i < count; ++i) {
        // Sign extension is the device's own widening: 0xE9 becomes 0xFFE9.
        wide[i] = static_cast<char16_t>(static_cast<int16_t>(static_cast<signed char>(bytes[i])));
    }
    wide[count] = 0;
    return wide;
}

char* Narrow(const char16_t* s, int32_t count) {
    if (count == -1) count = WideLength(s);
    auto* bytes = static_cast<char*>(std::malloc(static_cast<size_t>(count) + 1));
    for (int32_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(s[i] & 0xFF);
    bytes[count] = 0;
    return bytes;
}

WideBuffer* WideBufferCreate() {
    auto* buffer = static_cast<WideBuffer*>(std::malloc(sizeof(WideBuffer)));
    buffer->capacity = 256;
    buffer->length = 0;
    buffer->data = static_cast<char16_t*>(std::malloc(256 * sizeof(char16_t)));
    return buffer;
}

void WideBufferAppend(WideBuffer* buffer, const char16_t* source, int32_t count) {
    if (count <= 0) return;
    // Grow in 64 bits: a command line near 2^31 characters must not wrap the sum.
    int64_t needed = static_cast<int64_t>(buffer->length) + count;
    if (needed > buffer->capacity) {
        int64_t grown = static_cast<int64_t>(buffer->capacity) * 2;
        if (grown < needed) grown = needed;
        if (grown > INT32_MAX) grown = INT32_MAX;
        // Text that cannot be held is not appended rather than written past
        // the storage; the launcher's lines stay far below either limit.
        if (needed > grown) return;
        auto* data = static_cast<char16_t*>(std::malloc(static_cast<size_t>(grown) * sizeof(char16_t)));
        if (data == NULL) return;
        std::memcpy(data, buffer->data, static_cast<size_t>(buffer->length) * sizeof(char16_t));
        std::free(buffer->data);
        buffer->data = data;
        buffer->capacity = static_cast<int32_t>(grown);
    }
    std::memcpy(buffer->data + buffer->length, source, static_cast<size_t>(count) * sizeof(char16_t));
    buffer->length += count;
}

void WideBufferAppendChar(WideBuffer* buffer, char16_t c) { WideBufferAppend(buffer, &c, 1); }

char16_t* WideBufferFinish(WideBuffer* buffer) {
    WideBufferAppendChar(buffer, 0);
    return buffer->data;
}

}  // namespace text
