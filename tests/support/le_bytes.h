// ***Used only by the tests***: little-endian fields written into a byte
// buffer (std::string or std::vector<uint8_t>), for the builders here and
// for tests that damage what the builders made. A write past the end throws,
// which fails the test.
#pragma once

#include <cstddef>
#include <cstdint>

namespace testsupport {

// Overwrites 2 bytes at `at` with value.
template <typename Bytes>
void PutU16(Bytes& bytes, size_t at, uint32_t value) {
    bytes.at(at) = static_cast<typename Bytes::value_type>(value & 0xFF);
    bytes.at(at + 1) = static_cast<typename Bytes::value_type>((value >> 8) & 0xFF);
}

// Overwrites 4 bytes at `at` with value.
template <typename Bytes>
void PutU32(Bytes& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<typename Bytes::value_type>((value >> (8 * i)) & 0xFF);
}

// Rounds value up to a multiple of align (a power of two).
inline uint64_t AlignUp(uint64_t value, uint64_t align) { return (value + align - 1) & ~(align - 1); }

}  // namespace testsupport
