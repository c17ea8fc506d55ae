// Little-endian reads and writes over byte buffers, checked against the
// buffer's end. Every reader of untrusted input goes through these, so that a
// damaged file can make a read fail but never reach past the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelpack {

// Records why a read (or a layout) failed and says so: `return Fail(error, "...")`.
inline bool Fail(std::string* error, const std::string& why) {
    *error = why;
    return false;
}

// True when [offset, offset + count) lies inside a buffer of `size` bytes.
inline bool InBounds(std::uint64_t size, std::uint64_t offset, std::uint64_t count) {
    return offset <= size && count <= size - offset;
}

// Reads a 16-bit little-endian value; false when it would pass the end.
inline bool ReadU16(const std::vector<std::uint8_t>& b, std::uint64_t off, std::uint16_t* v) {
    if (!InBounds(b.size(), off, 2)) return false;
    *v = static_cast<std::uint16_t>(b[off] | (b[off + 1] << 8));
    return true;
}

// Reads a 32-bit little-endian value; false when it would pass the end.
inline bool ReadU32(const std::vector<std::uint8_t>& b, std::uint64_t off, std::uint32_t* v) {
    if (!InBounds(b.size(), off, 4)) return false;
    *v = static_cast<std::uint32_t>(b[off]) | (static_cast<std::uint32_t>(b[off + 1]) << 8) |
         (static_cast<std::uint32_t>(b[off + 2]) << 16) | (static_cast<std::uint32_t>(b[off + 3]) << 24);
    return true;
}

// Reads a 16-bit value the caller has already bounds-checked.
inline std::uint16_t GetU16(const std::vector<std::uint8_t>& b, std::size_t off) {
    std::uint16_t v = 0;
    ReadU16(b, off, &v);
    return v;
}

// Reads a 32-bit value the caller has already bounds-checked.
inline std::uint32_t GetU32(const std::vector<std::uint8_t>& b, std::size_t off) {
    std::uint32_t v = 0;
    ReadU32(b, off, &v);
    return v;
}

// Overwrites a 16-bit value inside the buffer; ignored past its end.
inline void PutU16(std::vector<std::uint8_t>* b, std::size_t off, std::uint32_t v) {
    if (!InBounds(b->size(), off, 2)) return;
    (*b)[off] = static_cast<std::uint8_t>(v);
    (*b)[off + 1] = static_cast<std::uint8_t>(v >> 8);
}

// Overwrites a 32-bit value inside the buffer; ignored past its end.
inline void PutU32(std::vector<std::uint8_t>* b, std::size_t off, std::uint32_t v) {
    if (!InBounds(b->size(), off, 4)) return;
    for (int i = 0; i < 4; ++i) (*b)[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Appends a 16-bit little-endian value.
inline void AppendU16(std::vector<std::uint8_t>* b, std::uint32_t v) {
    b->push_back(static_cast<std::uint8_t>(v));
    b->push_back(static_cast<std::uint8_t>(v >> 8));
}

// Appends a 32-bit little-endian value.
inline void AppendU32(std::vector<std::uint8_t>* b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b->push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// Rounds `v` up to a multiple of `align` (a power of two, or 0 for none).
inline std::uint64_t AlignUp(std::uint64_t v, std::uint64_t align) {
    if (align == 0) return v;
    return (v + align - 1) & ~(align - 1);
}

}  // namespace kelpack
