#include "fileio.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kelpack {

namespace {

// Paths are UTF-8 throughout the tool. On Windows the narrow file calls take
// the ANSI code page instead, so the wide calls are used there.
#if defined(_WIN32)
std::wstring Wide(const std::string& path) {
    int size = ::MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    std::wstring wide(size > 0 ? size - 1 : 0, L'\0');
    if (size > 1) ::MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, &wide[0], size);
    return wide;
}
std::FILE* OpenFile(const std::string& path, bool write) { return ::_wfopen(Wide(path).c_str(), write ? L"wb" : L"rb"); }
int RemoveFile(const std::string& path) { return ::_wremove(Wide(path).c_str()); }
int RenameFile(const std::string& from, const std::string& to) {
    return ::_wrename(Wide(from).c_str(), Wide(to).c_str());
}
std::filesystem::path FsPath(const std::string& path) { return std::filesystem::path(Wide(path)); }
#else
std::FILE* OpenFile(const std::string& path, bool write) { return std::fopen(path.c_str(), write ? "wb" : "rb"); }
int RemoveFile(const std::string& path) { return std::remove(path.c_str()); }
int RenameFile(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()); }
std::filesystem::path FsPath(const std::string& path) { return std::filesystem::path(path); }
#endif

}  // namespace

bool ReadFile(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error) {
    bytes->clear();
    std::FILE* f = OpenFile(path, false);
    if (!f) {
        *error = std::strerror(errno);
        return false;
    }
    std::uint8_t buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes->insert(bytes->end(), buf, buf + n);
    bool bad = std::ferror(f) != 0;
    int saved = errno;
    std::fclose(f);
    if (bad) {
        *error = std::strerror(saved);
        return false;
    }
    return true;
}

bool WriteFileAtomic(const std::string& path, const std::vector<std::uint8_t>& bytes, const std::string& like,
                     std::string* error) {
    return WriteFileChecked(path, bytes, like, nullptr, error) == WriteOutcome::kWritten;
}

WriteOutcome WriteFileChecked(const std::string& path, const std::vector<std::uint8_t>& bytes, const std::string& like,
                              const WrittenFileCheck& check, std::string* error) {
    std::string tmp = path + ".kelpack-tmp";
    std::FILE* f = OpenFile(tmp, true);
    if (!f) {
        *error = "cannot create " + tmp + ": " + std::strerror(errno);
        return WriteOutcome::kFailed;
    }
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fflush(f) == 0 && ok;
    int saved = errno;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        RemoveFile(tmp);
        *error = "cannot write " + tmp + ": " + std::strerror(saved);
        return WriteOutcome::kFailed;
    }
    // Judged before the permissions are copied: a read-only copy could not be
    // removed on Windows.
    if (check) {
        std::vector<std::uint8_t> back;
        std::string why;
        if (!ReadFile(tmp, &back, &why)) {
            RemoveFile(tmp);
            *error = "cannot read back " + tmp + ": " + why;
            return WriteOutcome::kFailed;
        }
        if (!check(back, &why)) {
            RemoveFile(tmp);
            *error = why;
            return WriteOutcome::kRefused;
        }
    }
    if (!like.empty()) {
        std::error_code ec;
        auto perms = std::filesystem::status(FsPath(like), ec).permissions();
        if (!ec) std::filesystem::permissions(FsPath(tmp), perms, ec);  // best effort: the bytes are what matter
    }
    if (RenameFile(tmp, path) != 0) {
        // Windows will not rename onto an existing file. The new file is
        // complete by now, so the old one can go first.
        RemoveFile(path);
        if (RenameFile(tmp, path) != 0) {
            *error = "cannot rename " + tmp + " to " + path + ": " + std::strerror(errno);
            RemoveFile(tmp);
            return WriteOutcome::kFailed;
        }
    }
    return WriteOutcome::kWritten;
}

bool RemoveWrittenFile(const std::string& path) { return RemoveFile(path) == 0; }

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    bool same = std::filesystem::equivalent(FsPath(a), FsPath(b), ec);
    return !ec && same;
}

bool IsRegularFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(FsPath(path), ec);
}

}  // namespace kelpack
