// Whole-file reads and all-or-nothing writes, in standard C++ where it can
// be, so that the tool builds the same on Linux, macOS and Windows. What the
// standard library cannot say (which file a path names, what a signal or a
// Ctrl-C must clean up) is done here, once per platform.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace kelpack {

// Reads the whole file; false with the reason (from errno) otherwise.
bool ReadFile(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error);

// What a read of an input came to.
enum class ReadStatus {
    kRead,        // the size is known, and the bytes were read when asked for
    kUnreadable,  // no such file, not a regular file, or a read failed; `why` says which
    kTooLarge,    // the file holds more than the limit; it was not read
};

// The one way kelpack reads an input: its size first, and its bytes (when
// `bytes` is set) only when it holds at most `limit`, so that a file too
// large is refused before it is read.
ReadStatus ReadWithin(const std::string& path, std::uint64_t limit, std::uint64_t* size, std::vector<std::uint8_t>* bytes,
                      std::string* why);

// The file's size in bytes; false with the reason when it cannot be known
// (no such file, or not a regular file).
bool FileSize(const std::string& path, std::uint64_t* size, std::string* error);

// Hands `size` bytes of the file from `offset` on to `chunk`, a piece of at
// most a few hundred KiB at a time, so that a large file is never held
// whole. False with the reason when the file cannot be read, holds fewer
// bytes than that, or `chunk` returns false (then `error` is left to it).
bool ReadFileChunks(const std::string& path, std::uint64_t offset, std::uint64_t size,
                    const std::function<bool(const std::uint8_t* data, std::size_t size)>& chunk, std::string* error);

// A file opened once for reads at any offset, for a reader that asks for
// many small pieces (a cabinet's blocks) and must not reopen it for each.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const std::string& path);
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // `size` bytes at `offset` into `out`; false with the reason when the
    // file cannot be opened or holds fewer bytes there.
    bool Read(std::uint64_t offset, std::size_t size, std::uint8_t* out, std::string* error);

private:
    std::string path_;
    std::FILE* file_;
    int openErrno_;
    std::uint64_t at_ = 0;  // where the next read starts (all ones: unknown)
};

// Writes `bytes` to a temporary file beside `path`, then renames it into
// place, so that an interrupted run leaves either the old file or the new
// one. The file's permissions are taken from `like` when it is not empty.
bool WriteFileAtomic(const std::string& path, const std::vector<std::uint8_t>& bytes, const std::string& like,
                     std::string* error);

// Judges the bytes read back from a file just written; false, with the
// reason, refuses them. It may take the bytes (move from them).
using WrittenFileCheck = std::function<bool(std::vector<std::uint8_t>& readBack, std::string* why)>;

// Where a writer puts its bytes, a piece at a time; false when the write failed.
using ByteSink = std::function<bool(const std::uint8_t* data, std::size_t size)>;

// Rewrites `size` bytes a writer has already put into its file, at
// `offset` (a header whose sizes are known only at the end); false when
// that failed.
using BytePatcher = std::function<bool(std::uint64_t offset, const std::uint8_t* data, std::size_t size)>;

// Produces a file's contents into `sink`; false with the reason when it
// cannot (a source file that cannot be read, say). A failing sink is
// reported by the caller, which knows the file.
using ContentWriter = std::function<bool(const ByteSink& sink, std::string* error)>;

// Contents that are `bytes`, which must outlive the write.
ContentWriter ContentOf(const std::vector<std::uint8_t>& bytes);

// What WriteFileChecked did.
enum class WriteOutcome {
    kWritten,  // `path` holds the new bytes
    kFailed,   // the file system failed; the error says how
    kRefused,  // `check` refused what was read back; the error gives its reason
};

// As WriteFileAtomic, but before the rename the temporary file is read back
// and its bytes handed to `check` (when set). On refusal the temporary file
// is removed and `path` is left as it was. The temporary file is also
// removed when the run is interrupted (SIGINT, SIGTERM, Ctrl-C) or runs out
// of memory while it exists.
WriteOutcome WriteFileChecked(const std::string& path, const std::vector<std::uint8_t>& bytes, const std::string& like,
                              const WrittenFileCheck& check, std::string* error);

// The same with the contents produced piece by piece.
WriteOutcome WriteFileChecked(const std::string& path, const ContentWriter& content, const std::string& like,
                              const WrittenFileCheck& check, std::string* error);

// Judges a file just written by reading it itself, a piece at a time, so
// that a large one is never held; false, with the reason, refuses it.
using WrittenPathCheck = std::function<bool(const std::string& path, std::string* why)>;

// Produces a file's contents into `sink`, and may rewrite bytes already
// written through `patch`; false as for ContentWriter.
using PatchingContentWriter = std::function<bool(const ByteSink& sink, const BytePatcher& patch, std::string* error)>;

// The same with a writer that patches and a check that reads the file itself.
WriteOutcome WriteFileChecked(const std::string& path, const PatchingContentWriter& content, const std::string& like,
                              const WrittenPathCheck& check, std::string* error);

// A writer that never patches, and a check that reads the whole file back
// and judges its bytes (none stays none), for a FileWrite.
PatchingContentWriter WithoutPatches(ContentWriter content);
WrittenPathCheck ReadingBack(WrittenFileCheck check);

// One file of a set written together.
struct FileWrite {
    std::string path;
    std::string temporary;  // where it is written first: a TemporaryPath(path)
    PatchingContentWriter content;
    std::string like;        // the file whose permissions it takes, when not empty
    WrittenPathCheck check;  // judges what was written, when set
};

// Writes every file to its temporary name and has each read back and
// judged; only when all are written are they moved into place. A file that
// was at a path is moved aside first and put back when a later move fails,
// so that every path ends with its old file or the set ends written whole.
// A folder is never removed nor replaced. The temporary files go on any
// failure, and when the run is interrupted or runs out of memory while they
// exist; an interrupt that comes while the files are moved waits for the
// moves to end.
WriteOutcome WriteFilesChecked(const std::vector<FileWrite>& files, std::string* error);

// The last path component (after '/' or '\\').
std::string BaseName(const std::string& path);

// A fresh name for a temporary file beside `path` (in its folder, so that
// the rename into place is atomic): "PATH.kelpack-tmp-PID-RANDOM", with the
// process's id and a random part, so that two runs writing the same output,
// or two writes of one run, never share one.
std::string TemporaryPath(const std::string& path);

// Which file a path names, whatever the spelling: the same file reached
// through a hard link, a symbolic link or another path has the same identity.
struct FileIdentity {
    bool exists = false;
    std::uint64_t device = 0;  // st_dev; on Windows the volume's serial number
    std::uint64_t file = 0;    // st_ino; on Windows the file index
};

// The identity of the file at `path` (exists is false when there is none).
FileIdentity IdentifyFile(const std::string& path);

// True when both identities name the same existing file.
bool SameIdentity(const FileIdentity& a, const FileIdentity& b);

// When the file was last changed, in seconds since 1970 (UTC); false when
// that cannot be had.
bool FileModified(const std::string& path, std::int64_t* unixSeconds);

// A file's size and last change, as finely as the system keeps them: two
// stamps of a file differ when it was written between them.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t changed = 0;  // in the file system's own steps
    bool operator==(const FileStamp& o) const { return size == o.size && changed == o.changed; }
};
bool StampOf(const std::string& path, FileStamp* stamp);

// True when the path names an existing file (not a folder).
bool IsRegularFile(const std::string& path);

// True when the path names a folder, or a symbolic link to one.
bool IsFolder(const std::string& path);

// Files the run has written and must not leave behind if it is interrupted
// (SIGINT, SIGTERM, Ctrl-C): the signal's handler removes them and then ends
// the process as the signal would have. Files are kept here from just before
// they are created until the run no longer needs them removed.
void RemoveOnInterrupt(const std::string& path);
void KeepOnInterrupt(const std::string& path);

// Removes those files now, for a run that cannot go on (out of memory).
// Allocates nothing.
void RemoveInterruptedFiles();

// Creates the folder and its missing parents; `created` gets those this call
// made, deepest last, so that a failed run can remove them again.
bool MakeFolders(const std::string& path, std::vector<std::string>* created, std::string* error);

// Removes empty folders this run made (as MakeFolders listed them).
void RemoveMadeFolders(const std::vector<std::string>& created);

}  // namespace kelpack
