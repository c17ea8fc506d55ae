// The file a command writes: never one of its inputs, whatever path names
// them, never in a folder's place, and written whole or not at all. Every
// command that writes (pack, cab, preview, and others beside them) takes its
// outputs through here.
#pragma once

#include <string>

#include "fileio.h"
#include "outcome.h"

namespace kelpack {

// One output file. Its identity, whether a folder is in its place, and the
// name of the temporary file it is written through (fresh to this object)
// are taken when it is made, before anything is written.
class Output {
public:
    // `named` is how messages name it: "-o PATH" when empty.
    explicit Output(const std::string& path, const std::string& named = "");

    const std::string& Path() const { return path_; }
    // The temporary file it is written through, unique to this object.
    const std::string& Temporary() const { return temporary_; }

    // False, with the error, when the output cannot be written at all (a
    // folder is in its place), or when `input` (named in messages as `what`,
    // e.g. "--app game.kel") is the output, reached through any spelling,
    // hard link or symbolic link.
    bool Allows(const std::string& input, const std::string& what, std::string* error) const;

    // As Allows, with the error recorded in `outcome` as a usage error (once,
    // however many inputs are admitted).
    bool Admit(const std::string& input, const std::string& what, Outcome* outcome) const;

    // Writes the contents to the temporary file, reads them back for `check`
    // (when set) and renames the file into place; the file's permissions
    // are taken from `like` when it is not empty. The temporary file goes
    // on any failure, and when the run is interrupted (SIGINT, SIGTERM,
    // SIGHUP, Ctrl-C) or runs out of memory while it exists.
    WriteOutcome Write(const ContentWriter& content, const std::string& like, const WrittenFileCheck& check,
                       std::string* error) const;

    // The same for contents whose header is rewritten at the end, judged
    // by a check that reads the file itself, a piece at a time.
    WriteOutcome Write(const PatchingContentWriter& content, const WrittenPathCheck& check, std::string* error) const;

    // What Write writes, for outputs written together by WriteFilesChecked
    // (all of them or none).
    FileWrite Planned(const ContentWriter& content, const std::string& like, const WrittenFileCheck& check) const;

private:
    std::string path_;
    std::string named_;
    std::string temporary_;
    FileIdentity output_;
    bool folder_;
};

}  // namespace kelpack
