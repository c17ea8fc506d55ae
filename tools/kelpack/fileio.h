// Whole-file reads and all-or-nothing writes, in standard C++ only so that
// the tool builds the same on Linux, macOS and Windows.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kelpack {

// Reads the whole file; false with the reason (from errno) otherwise.
bool ReadFile(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error);

// Writes `bytes` to a temporary file beside `path`, then renames it into
// place, so that an interrupted run leaves either the old file or the new
// one. The file's permissions are taken from `like` when it is not empty.
bool WriteFileAtomic(const std::string& path, const std::vector<std::uint8_t>& bytes, const std::string& like,
                     std::string* error);

// Judges the bytes read back from a file just written; false, with the
// reason, refuses them.
using WrittenFileCheck = std::function<bool(const std::vector<std::uint8_t>& readBack, std::string* why)>;

// What WriteFileChecked did.
enum class WriteOutcome {
    kWritten,  // `path` holds the new bytes
    kFailed,   // the file system failed; the error says how
    kRefused,  // `check` refused what was read back; the error gives its reason
};

// As WriteFileAtomic, but before the rename the temporary file is read back
// and its bytes handed to `check` (when set). On refusal the temporary file
// is removed and `path` is left as it was.
WriteOutcome WriteFileChecked(const std::string& path, const std::vector<std::uint8_t>& bytes, const std::string& like,
                              const WrittenFileCheck& check, std::string* error);

// Removes a file this run wrote, when a later step fails; false when it could not.
bool RemoveWrittenFile(const std::string& path);

// True when both paths name the same existing file.
bool SameFile(const std::string& a, const std::string& b);

// True when the path names an existing file (not a folder).
bool IsRegularFile(const std::string& path);

}  // namespace kelpack
