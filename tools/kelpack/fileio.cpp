#include "fileio.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace kelpack {

bool read_file(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error) {
    bytes->clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
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

bool write_file_atomic(const std::string& path, const std::vector<std::uint8_t>& bytes, const std::string& like,
                       std::string* error) {
    std::string tmp = path + ".kelpack-tmp";
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) {
        *error = "cannot create " + tmp + ": " + std::strerror(errno);
        return false;
    }
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fflush(f) == 0 && ok;
    int saved = errno;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        std::remove(tmp.c_str());
        *error = "cannot write " + tmp + ": " + std::strerror(saved);
        return false;
    }
    if (!like.empty()) {
        std::error_code ec;
        auto perms = std::filesystem::status(like, ec).permissions();
        if (!ec) std::filesystem::permissions(tmp, perms, ec);  // best effort: the bytes are what matter
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        // Windows will not rename onto an existing file. The new file is
        // complete by now, so the old one can go first.
        std::remove(path.c_str());
        if (std::rename(tmp.c_str(), path.c_str()) != 0) {
            *error = "cannot rename " + tmp + " to " + path + ": " + std::strerror(errno);
            std::remove(tmp.c_str());
            return false;
        }
    }
    return true;
}

bool same_file(const std::string& a, const std::string& b) {
    std::error_code ec;
    bool same = std::filesystem::equivalent(a, b, ec);
    return !ec && same;
}

}  // namespace kelpack
