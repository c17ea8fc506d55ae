#include "fileio.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelpack {

namespace {

// How much of a file is read at a time when it is not read whole.
constexpr std::size_t kChunkBytes = 256 * 1024;

// Paths are UTF-8 throughout the tool. On Windows the narrow file calls take
// the ANSI code page instead, so the wide calls are used there.
#if defined(_WIN32)
std::wstring Wide(const std::string& path) {
    int size = ::MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    std::wstring wide(size > 0 ? size - 1 : 0, L'\0');
    if (size > 1) ::MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, &wide[0], size);
    return wide;
}
int ErrnoOf(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME: return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return ENOMEM;
        default: return EIO;
    }
}
// Opened sharing deletion, so that the Ctrl-C handler, which runs on a
// thread of its own, can remove a temporary file this thread is writing.
std::FILE* OpenFile(const std::string& path, bool write) {
    HANDLE h = ::CreateFileW(Wide(path).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = ErrnoOf(::GetLastError());
        return nullptr;
    }
    int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), (write ? _O_WRONLY : _O_RDONLY) | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(h);
        errno = EMFILE;
        return nullptr;
    }
    std::FILE* f = ::_fdopen(fd, write ? "wb" : "rb");
    if (f == nullptr) ::_close(fd);
    return f;
}
int RemoveFile(const std::string& path) { return ::_wremove(Wide(path).c_str()); }
bool Seek(std::FILE* f, std::uint64_t offset) { return ::_fseeki64(f, static_cast<__int64>(offset), SEEK_SET) == 0; }
int RenameFile(const std::string& from, const std::string& to) {
    return ::_wrename(Wide(from).c_str(), Wide(to).c_str());
}
std::filesystem::path FsPath(const std::string& path) { return std::filesystem::path(Wide(path)); }
#else
std::FILE* OpenFile(const std::string& path, bool write) { return std::fopen(path.c_str(), write ? "wb" : "rb"); }
int RemoveFile(const std::string& path) { return std::remove(path.c_str()); }
bool Seek(std::FILE* f, std::uint64_t offset) { return ::fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0; }
int RenameFile(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()); }
std::filesystem::path FsPath(const std::string& path) { return std::filesystem::path(path); }
#endif

// Files to remove on an interrupt. The handler may run at any moment of the
// main thread (or, on Windows, beside it), so it reads only these slots,
// each an atomic pointer to a copy of the path made before it is published.
constexpr int kPendingSlots = 64;
std::atomic<char*> g_pending[kPendingSlots];

void RemovePending() {
    for (std::atomic<char*>& slot : g_pending) {
        char* path = slot.load();
        if (path == nullptr) continue;
#if defined(_WIN32)
        // Converted on the stack: this also runs when memory has run out.
        static wchar_t wide[32768];
        if (::MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, 32768) > 0) ::DeleteFileW(wide);
#else
        ::unlink(path);  // async-signal-safe
#endif
    }
}

#if defined(_WIN32)
// Returning FALSE hands the event on to the default handler, which ends the
// process as Ctrl-C always does.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) RemovePending();
    return FALSE;
}
void InstallInterruptHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}
#else
// After the clean-up the signal is raised again with its default action, so
// that whoever started kelpack sees it ended by that signal (status 128 + N
// in a shell), as it would have without the handler.
void OnSignal(int signal) {
    RemovePending();
    struct sigaction restore = {};
    restore.sa_handler = SIG_DFL;
    sigemptyset(&restore.sa_mask);
    sigaction(signal, &restore, nullptr);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal);
    sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    raise(signal);
}
void InstallInterruptHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old = {};
        sigaction(signal, nullptr, &old);
        // A signal the caller chose to ignore (nohup, a background job) stays ignored.
        if (old.sa_handler == SIG_IGN) continue;
        struct sigaction action = {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}
#endif

// The temporary file of one write: removed, and forgotten by the interrupt
// handler, however the write ends, an exception (out of memory) included.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& path) : path_(path) { RemoveOnInterrupt(path_); }
    ~TemporaryFile() {
        if (file_ != nullptr) std::fclose(file_);
        if (!kept_) RemoveFile(path_);
        KeepOnInterrupt(path_);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    std::FILE* Open() { return file_ = OpenFile(path_, true); }
    bool Close() {
        bool ok = std::fclose(file_) == 0;
        file_ = nullptr;
        return ok;
    }
    void Keep() { kept_ = true; }

private:
    std::string path_;
    std::FILE* file_ = nullptr;
    bool kept_ = false;
};

}  // namespace

void RemoveInterruptedFiles() { RemovePending(); }

void RemoveOnInterrupt(const std::string& path) {
    InstallInterruptHandlers();
    char* copy = static_cast<char*>(std::malloc(path.size() + 1));
    if (copy == nullptr) return;  // the write still removes it itself; only an interrupt would leave it
    std::memcpy(copy, path.c_str(), path.size() + 1);
    for (std::atomic<char*>& slot : g_pending) {
        char* expected = nullptr;
        if (slot.compare_exchange_strong(expected, copy)) return;
    }
    std::free(copy);  // more files than slots: the rest are not cleaned up on an interrupt
}

void KeepOnInterrupt(const std::string& path) {
    for (std::atomic<char*>& slot : g_pending) {
        char* held = slot.load();
        if (held != nullptr && path == held && slot.compare_exchange_strong(held, nullptr)) {
            std::free(held);
            return;
        }
    }
}

bool FileSize(const std::string& path, std::uint64_t* size, std::string* error) {
    std::error_code ec;
    std::filesystem::file_status status = std::filesystem::status(FsPath(path), ec);
    if (ec || !std::filesystem::exists(status)) {
        *error = std::strerror(ENOENT);
        return false;
    }
    if (!std::filesystem::is_regular_file(status)) {
        *error = std::filesystem::is_directory(status) ? "it is a folder" : "it is not a regular file";
        return false;
    }
    *size = std::filesystem::file_size(FsPath(path), ec);
    if (ec) {
        *error = ec.message();
        return false;
    }
    return true;
}

bool ReadFile(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error) {
    bytes->clear();
    std::FILE* f = OpenFile(path, false);
    if (!f) {
        *error = std::strerror(errno);
        return false;
    }
    // Sized once from the file's length: growing the buffer as it fills
    // would hold up to twice the file at once.
    std::uint64_t expected = 0;
    std::string unused;
    if (!FileSize(path, &expected, &unused) || expected > bytes->max_size()) expected = 0;
    bytes->resize(static_cast<std::size_t>(expected));
    std::size_t have = expected == 0 ? 0 : std::fread(bytes->data(), 1, bytes->size(), f);
    bytes->resize(have);
    // Whatever the file holds beyond what its size said (it grew, or it is no regular file).
    std::uint8_t more[65536];
    for (std::size_t n; (n = std::fread(more, 1, sizeof more, f)) > 0;) bytes->insert(bytes->end(), more, more + n);
    bool bad = std::ferror(f) != 0;
    int saved = errno;
    std::fclose(f);
    if (bad) {
        bytes->clear();
        *error = std::strerror(saved);
        return false;
    }
    return true;
}

ReadStatus ReadWithin(const std::string& path, std::uint64_t limit, std::uint64_t* size, std::vector<std::uint8_t>* bytes,
                      std::string* why) {
    *size = 0;
    if (!FileSize(path, size, why)) return ReadStatus::kUnreadable;
    if (*size > limit) return ReadStatus::kTooLarge;
    if (bytes != nullptr && !ReadFile(path, bytes, why)) return ReadStatus::kUnreadable;
    return ReadStatus::kRead;
}

bool ReadFileChunks(const std::string& path, std::uint64_t offset, std::uint64_t size,
                    const std::function<bool(const std::uint8_t* data, std::size_t size)>& chunk, std::string* error) {
    std::FILE* f = OpenFile(path, false);
    if (!f) {
        *error = path + ": cannot read: " + std::strerror(errno);
        return false;
    }
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(kChunkBytes, size)));
    bool ok = Seek(f, offset);
    for (std::uint64_t left = size; ok && left > 0;) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), left));
        std::size_t n = std::fread(buffer.data(), 1, want, f);
        if (n != want) {
            ok = false;
            break;
        }
        left -= n;
        if (!chunk(buffer.data(), n)) {
            std::fclose(f);
            return false;
        }
    }
    bool bad = std::ferror(f) != 0;
    int saved = errno;
    std::fclose(f);
    if (!ok) {
        *error = path + (bad ? ": cannot read: " + std::string(std::strerror(saved))
                             : ": it is shorter than when kelpack looked at it (did it change while kelpack ran?)");
        return false;
    }
    return true;
}

bool WriteFileAtomic(const std::string& path, const std::vector<std::uint8_t>& bytes, const std::string& like,
                     std::string* error) {
    return WriteFileChecked(path, bytes, like, nullptr, error) == WriteOutcome::kWritten;
}

std::string BaseName(const std::string& path) {
    std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TemporaryPath(const std::string& path) { return path + ".kelpack-tmp"; }

WriteOutcome WriteFileChecked(const std::string& path, const std::vector<std::uint8_t>& bytes, const std::string& like,
                              const WrittenFileCheck& check, std::string* error) {
    ContentWriter content = [&](const ByteSink& sink, std::string*) { return bytes.empty() || sink(bytes.data(), bytes.size()); };
    return WriteFileChecked(path, content, like, check, error);
}

WriteOutcome WriteFileChecked(const std::string& path, const ContentWriter& content, const std::string& like,
                              const WrittenFileCheck& check, std::string* error) {
    const std::string tmp = TemporaryPath(path);
    TemporaryFile temporary(tmp);
    std::FILE* f = temporary.Open();
    if (!f) {
        *error = "cannot create " + tmp + ": " + std::strerror(errno);
        return WriteOutcome::kFailed;
    }
    int sinkErrno = 0;
    ByteSink sink = [&](const std::uint8_t* data, std::size_t size) {
        if (std::fwrite(data, 1, size, f) == size) return true;
        sinkErrno = errno != 0 ? errno : EIO;
        return false;
    };
    std::string why;
    bool produced = content(sink, &why);
    bool flushed = produced && std::fflush(f) == 0;
    int flushErrno = errno;
    bool closed = temporary.Close();
    if (!produced || !flushed || !closed) {
        if (!produced && !why.empty()) *error = why;  // a source the content came from failed
        else *error = "cannot write " + tmp + ": " + std::strerror(sinkErrno != 0 ? sinkErrno : flushErrno != 0 ? flushErrno : EIO);
        return WriteOutcome::kFailed;
    }
    // Judged before the permissions are copied: a read-only copy could not be
    // removed on Windows.
    if (check) {
        std::vector<std::uint8_t> back;
        if (!ReadFile(tmp, &back, &why)) {
            *error = "cannot read back " + tmp + ": " + why;
            return WriteOutcome::kFailed;
        }
        if (!check(back, &why)) {
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
            return WriteOutcome::kFailed;
        }
    }
    temporary.Keep();
    return WriteOutcome::kWritten;
}

bool RemoveWrittenFile(const std::string& path) { return RemoveFile(path) == 0; }

FileIdentity IdentifyFile(const std::string& path) {
    FileIdentity id;
#if defined(_WIN32)
    // Opened for no access at all, which any file allows; backup semantics
    // lets a folder be opened too.
    HANDLE h = ::CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return id;
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileInformationByHandle(h, &info)) {
        id.exists = true;
        id.device = info.dwVolumeSerialNumber;
        id.file = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    }
    ::CloseHandle(h);
#else
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {  // follows symbolic links to the file itself
        id.exists = true;
        id.device = static_cast<std::uint64_t>(st.st_dev);
        id.file = static_cast<std::uint64_t>(st.st_ino);
    }
#endif
    return id;
}

bool SameIdentity(const FileIdentity& a, const FileIdentity& b) {
    return a.exists && b.exists && a.device == b.device && a.file == b.file;
}

bool MakeFolders(const std::string& path, std::vector<std::string>* created, std::string* error) {
    created->clear();
    std::filesystem::path target = FsPath(path);
    std::vector<std::filesystem::path> missing;
    std::error_code ec;
    for (std::filesystem::path p = target; !p.empty() && !std::filesystem::exists(p, ec); p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (!std::filesystem::create_directory(*it, ec) && ec) {
            *error = "cannot create the folder " + it->u8string() + ": " + ec.message();
            RemoveMadeFolders(*created);
            created->clear();
            return false;
        }
        created->push_back(it->u8string());
    }
    if (!std::filesystem::is_directory(target, ec)) {
        *error = path + " is not a folder";
        return false;
    }
    return true;
}

void RemoveMadeFolders(const std::vector<std::string>& created) {
    std::error_code ec;
    for (auto it = created.rbegin(); it != created.rend(); ++it) std::filesystem::remove(std::filesystem::u8path(*it), ec);
}

bool FileModified(const std::string& path, std::int64_t* unixSeconds) {
#if defined(_WIN32)
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return false;
    // 100-nanosecond steps since 1601.
    std::uint64_t t = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    *unixSeconds = static_cast<std::int64_t>(t / 10000000) - 11644473600LL;
#else
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    *unixSeconds = static_cast<std::int64_t>(st.st_mtime);
#endif
    return true;
}

bool IsRegularFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(FsPath(path), ec);
}

}  // namespace kelpack
