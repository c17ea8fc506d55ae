// Whole-file reads and all-or-nothing writes, in standard C++ only so that
// the tool builds the same on Linux, macOS and Windows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelpack {

// Reads the whole file; false with the reason (from errno) otherwise.
bool read_file(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error);

// Writes `bytes` to a temporary file beside `path`, then renames it into
// place, so that an interrupted run leaves either the old file or the new
// one. The file's permissions are taken from `like` when it is not empty.
bool write_file_atomic(const std::string& path, const std::vector<std::uint8_t>& bytes, const std::string& like,
                       std::string* error);

// True when both paths name the same existing file.
bool same_file(const std::string& a, const std::string& b);

}  // namespace kelpack
