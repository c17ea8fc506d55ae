// The file a command writes: never one of its inputs, whatever path names
// them, and written whole or not at all. Any command that writes one file
// (pack, and others beside it) takes its output through here.
#pragma once

#include <string>

#include "fileio.h"
#include "outcome.h"

namespace kelpack {

// One output file. Its identity, and that of the temporary file it is
// written through, are taken when it is made, before anything is written.
class Output {
public:
    explicit Output(const std::string& path);

    const std::string& Path() const { return path_; }

    // False, with the error, when `input` (named in messages as `what`, e.g.
    // "--app game.kel") is the output or its temporary file, reached through
    // any spelling, hard link or symbolic link.
    bool Allows(const std::string& input, const std::string& what, std::string* error) const;

    // As Allows, with the error recorded in `outcome` as a usage error.
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

private:
    std::string path_;
    FileIdentity output_;
    FileIdentity temporary_;
};

}  // namespace kelpack
