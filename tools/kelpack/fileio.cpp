#if defined(_WIN32)
#define _CRT_RAND_S  // rand_s, before anything includes stdlib.h
#endif
#include "fileio.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
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
// thread of its own, can remove a temporary file this thread is writing. A
// file is written only when it is new: kelpack writes its temporary files
// alone, and a name already taken is never one of them.
std::FILE* OpenFile(const std::string& path, bool write) {
    HANDLE h = ::CreateFileW(Wide(path).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             write ? CREATE_NEW : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
// Never a folder (DeleteFileW removes none). A file kelpack removes is one
// it wrote or moved aside, which may carry its input's read-only mark.
int RemoveFile(const std::string& path) {
    std::wstring wide = Wide(path);
    if (::DeleteFileW(wide.c_str())) return 0;
    DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        ::SetFileAttributesW(wide.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) &&
        ::DeleteFileW(wide.c_str()))
        return 0;
    errno = ErrnoOf(::GetLastError());
    return -1;
}
bool Seek(std::FILE* f, std::uint64_t offset) { return ::_fseeki64(f, static_cast<__int64>(offset), SEEK_SET) == 0; }
int RenameFile(const std::string& from, const std::string& to) {
    return ::_wrename(Wide(from).c_str(), Wide(to).c_str());
}
std::filesystem::path FsPath(const std::string& path) { return std::filesystem::path(Wide(path)); }
int ProcessId() { return static_cast<int>(::GetCurrentProcessId()); }
// From the system's random source; 0 when it gives none.
std::uint32_t RandomBits() {
    unsigned int bits = 0;
    return ::rand_s(&bits) == 0 ? bits : 0;
}
#else
// A file is written only when it is new, as on Windows.
std::FILE* OpenFile(const std::string& path, bool write) {
    if (!write) return std::fopen(path.c_str(), "rb");
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, "wb");
    if (f == nullptr) ::close(fd);
    return f;
}
// unlink, not remove: remove takes an empty folder too.
int RemoveFile(const std::string& path) { return ::unlink(path.c_str()); }
bool Seek(std::FILE* f, std::uint64_t offset) { return ::fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0; }
int RenameFile(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()); }
std::filesystem::path FsPath(const std::string& path) { return std::filesystem::path(path); }
int ProcessId() { return static_cast<int>(::getpid()); }
std::uint32_t RandomBits() {
    std::uint32_t bits = 0;
    if (std::FILE* f = std::fopen("/dev/urandom", "rb")) {
        if (std::fread(&bits, sizeof bits, 1, f) != 1) bits = 0;
        std::fclose(f);
    }
    return bits;
}
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
// Set while written files are moved into place (see HeldInterrupts).
std::atomic<bool> g_moving{false};

// Returning FALSE hands the event on to the default handler, which ends the
// process as Ctrl-C always does.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    while (g_moving.load()) ::Sleep(1);
    RemovePending();
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

// Holds interrupts back while written files are moved into place, so that
// one finds the run either before the moves (its temporary files, which the
// handler removes, and every old file where it was) or after them, never
// with an old file moved aside. On Windows the handler, on a thread of its
// own, waits instead.
class HeldInterrupts {
public:
#if defined(_WIN32)
    HeldInterrupts() { g_moving.store(true); }
    ~HeldInterrupts() { g_moving.store(false); }
#else
    HeldInterrupts() {
        sigset_t held;
        sigemptyset(&held);
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, signal);
        sigprocmask(SIG_BLOCK, &held, &before_);
    }
    ~HeldInterrupts() { sigprocmask(SIG_SETMASK, &before_, nullptr); }

private:
    sigset_t before_;
#endif
    HeldInterrupts(const HeldInterrupts&) = delete;
    HeldInterrupts& operator=(const HeldInterrupts&) = delete;
};

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
    std::FILE* Open() {
        // Writers hand over headers of a few bytes between blocks of many
        // KiB: a large buffer keeps that to a system call a chunk.
        file_ = OpenFile(path_, true);
        if (file_ != nullptr) std::setvbuf(file_, nullptr, _IOFBF, kChunkBytes);
        return file_;
    }
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

ReadOnlyFile::ReadOnlyFile(const std::string& path) : path_(path), file_(OpenFile(path, false)), openErrno_(errno) {
    // Readers walk a file in order, a few bytes of header, then a block:
    // buffered, and without a seek where the read goes on from the last.
    if (file_ != nullptr) std::setvbuf(file_, nullptr, _IOFBF, kChunkBytes);
}

ReadOnlyFile::~ReadOnlyFile() {
    if (file_ != nullptr) std::fclose(file_);
}

bool ReadOnlyFile::Read(std::uint64_t offset, std::size_t size, std::uint8_t* out, std::string* error) {
    if (file_ == nullptr) {
        *error = path_ + ": cannot read: " + std::strerror(openErrno_);
        return false;
    }
    if ((offset == at_ || Seek(file_, offset)) && std::fread(out, 1, size, file_) == size) {
        at_ = offset + size;
        return true;
    }
    at_ = ~0ull;
    *error = path_ + (std::ferror(file_) ? ": cannot read: " + std::string(std::strerror(errno)) : ": it ends before " + std::to_string(offset + size) + " bytes");
    std::clearerr(file_);
    return false;
}

bool WriteFileAtomic(const std::string& path, const std::vector<std::uint8_t>& bytes, const std::string& like,
                     std::string* error) {
    return WriteFileChecked(path, bytes, like, nullptr, error) == WriteOutcome::kWritten;
}

std::string BaseName(const std::string& path) {
    std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TemporaryPath(const std::string& path) {
    // The clock and a count of the calls keep the name fresh even without a
    // random source: apart from a killed earlier run that had the same id,
    // and from another write of this run.
    static std::atomic<std::uint32_t> calls{0};
    std::uint64_t clock = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::uint32_t random = RandomBits() ^ static_cast<std::uint32_t>(clock ^ (clock >> 32)) ^ (calls.fetch_add(1) * 0x9E3779B9u);
    char tail[48];
    std::snprintf(tail, sizeof tail, ".kelpack-tmp-%d-%08x", ProcessId(), static_cast<unsigned>(random));
    return path + tail;
}

ContentWriter ContentOf(const std::vector<std::uint8_t>& bytes) {
    return [&bytes](const ByteSink& sink, std::string*) { return bytes.empty() || sink(bytes.data(), bytes.size()); };
}

WriteOutcome WriteFileChecked(const std::string& path, const std::vector<std::uint8_t>& bytes, const std::string& like,
                              const WrittenFileCheck& check, std::string* error) {
    return WriteFileChecked(path, ContentOf(bytes), like, check, error);
}

WriteOutcome WriteFileChecked(const std::string& path, const ContentWriter& content, const std::string& like,
                              const WrittenFileCheck& check, std::string* error) {
    return WriteFilesChecked({FileWrite{path, TemporaryPath(path), WithoutPatches(content), like, ReadingBack(check)}}, error);
}

WriteOutcome WriteFileChecked(const std::string& path, const PatchingContentWriter& content, const std::string& like,
                              const WrittenPathCheck& check, std::string* error) {
    return WriteFilesChecked({FileWrite{path, TemporaryPath(path), content, like, check}}, error);
}

PatchingContentWriter WithoutPatches(ContentWriter content) {
    return [content](const ByteSink& sink, const BytePatcher&, std::string* why) { return content(sink, why); };
}

WrittenPathCheck ReadingBack(WrittenFileCheck check) {
    if (!check) return nullptr;
    return [check](const std::string& written, std::string* why) {
        std::vector<std::uint8_t> back;
        if (!ReadFile(written, &back, why)) return (*why = "cannot read back " + written + ": " + *why), false;
        return check(back, why);
    };
}

namespace {

// Writes one file of a set to its temporary file and has it judged.
WriteOutcome WriteTemporary(const FileWrite& file, TemporaryFile* temporary, std::string* error) {
    const std::string& tmp = file.temporary;
    std::FILE* f = temporary->Open();
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
    BytePatcher patch = [&](std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
        if (std::fflush(f) == 0 && Seek(f, offset) && std::fwrite(data, 1, size, f) == size && std::fseek(f, 0, SEEK_END) == 0)
            return true;
        sinkErrno = errno != 0 ? errno : EIO;
        return false;
    };
    std::string why;
    bool produced = file.content(sink, patch, &why);
    bool flushed = produced && std::fflush(f) == 0;
    int flushErrno = errno;
    bool closed = temporary->Close();
    if (!produced || !flushed || !closed) {
        if (!produced && !why.empty()) *error = why;  // a source the content came from failed
        else *error = "cannot write " + tmp + ": " + std::strerror(sinkErrno != 0 ? sinkErrno : flushErrno != 0 ? flushErrno : EIO);
        return WriteOutcome::kFailed;
    }
    // Judged before the permissions are copied: a read-only copy could not be
    // removed on Windows.
    if (file.check && !file.check(tmp, &why)) {
        *error = why;
        return WriteOutcome::kRefused;
    }
    if (!file.like.empty()) {
        std::error_code ec;
        auto perms = std::filesystem::status(FsPath(file.like), ec).permissions();
        if (!ec) std::filesystem::permissions(FsPath(tmp), perms, ec);  // best effort: the bytes are what matter
    }
    return WriteOutcome::kWritten;
}

// What is at a path itself (a symbolic link is not followed: it is what a
// rename replaces).
bool EntryExists(const std::string& path, bool* folder) {
    std::error_code ec;
    std::filesystem::file_status status = std::filesystem::symlink_status(FsPath(path), ec);
    *folder = std::filesystem::is_directory(status);
    return !ec && std::filesystem::exists(status);
}

// Moves a written file to `path`. Where the system replaces a file in one
// step (POSIX) and `keepOld` is false, that is all; otherwise the file at
// `path` is first moved to `aside` (which is then set, empty when there was
// none), so that it can be put back. Never over a folder.
bool MoveIntoPlace(const FileWrite& file, bool keepOld, std::string* aside, std::string* error) {
    aside->clear();
    if (!keepOld && RenameFile(file.temporary, file.path) == 0) return true;
    bool folder = false;
    if (EntryExists(file.path, &folder)) {
        if (folder) {
            *error = file.path + " is a folder; kelpack never puts a file in a folder's place";
            return false;
        }
        std::string setAside = TemporaryPath(file.path);
        if (RenameFile(file.path, setAside) != 0) {
            *error = "cannot move " + file.path + " aside to replace it: " + std::strerror(errno);
            return false;
        }
        *aside = setAside;
    }
    if (RenameFile(file.temporary, file.path) == 0) return true;
    *error = "cannot rename " + file.temporary + " to " + file.path + ": " + std::strerror(errno);
    if (!aside->empty() && RenameFile(*aside, file.path) == 0) aside->clear();
    return false;
}

// Takes back a file moved into place: the old one returns, or with none
// the new one goes.
void TakeBack(const FileWrite& file, const std::string& aside) {
    if (aside.empty()) {
        RemoveFile(file.path);
        return;
    }
    if (RenameFile(aside, file.path) == 0) return;
    // Windows renames onto no existing file.
    RemoveFile(file.path);
    RenameFile(aside, file.path);
}

}  // namespace

WriteOutcome WriteFilesChecked(const std::vector<FileWrite>& files, std::string* error) {
    std::vector<std::unique_ptr<TemporaryFile>> temporaries;
    for (const FileWrite& file : files) {
        temporaries.push_back(std::make_unique<TemporaryFile>(file.temporary));
        WriteOutcome outcome = WriteTemporary(file, temporaries.back().get(), error);
        if (outcome != WriteOutcome::kWritten) return outcome;
    }
    HeldInterrupts held;
    std::vector<std::string> asides(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        // The last move needs no way back: nothing after it can fail.
        if (MoveIntoPlace(files[i], i + 1 < files.size(), &asides[i], error)) continue;
        while (i-- > 0) TakeBack(files[i], asides[i]);
        return WriteOutcome::kFailed;
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        temporaries[i]->Keep();
        if (!asides[i].empty()) RemoveFile(asides[i]);
    }
    return WriteOutcome::kWritten;
}

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

bool StampOf(const std::string& path, FileStamp* stamp) {
    std::error_code ec;
    stamp->size = std::filesystem::file_size(FsPath(path), ec);
    if (ec) return false;
    stamp->changed = static_cast<std::int64_t>(std::filesystem::last_write_time(FsPath(path), ec).time_since_epoch().count());
    return !ec;
}

bool IsRegularFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(FsPath(path), ec);
}

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_directory(FsPath(path), ec);
}

}  // namespace kelpack
