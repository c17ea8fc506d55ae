#include "output.h"

namespace kelpack {

Output::Output(const std::string& path, const std::string& named)
    : path_(path), named_(named.empty() ? "-o " + path : named), temporary_(TemporaryPath(path)),
      output_(IdentifyFile(path)), folder_(IsFolder(path)) {}

// The temporary file needs no such check: its name is made fresh for this
// run, so no input can be it.
bool Output::Allows(const std::string& input, const std::string& what, std::string* error) const {
    if (folder_) {
        *error = named_ + " is a folder; kelpack writes a file and never puts it in a folder's place, so choose another output";
        return false;
    }
    if (SameIdentity(IdentifyFile(input), output_)) {
        *error = named_ + " and " + what + " are the same file; kelpack never changes its input, so choose another output";
        return false;
    }
    return true;
}

bool Output::Admit(const std::string& input, const std::string& what, Outcome* outcome) const {
    std::string why;
    if (Allows(input, what, &why)) return true;
    outcome->FailOnce(kExitUsage, why);
    return false;
}

WriteOutcome Output::Write(const ContentWriter& content, const std::string& like, const WrittenFileCheck& check,
                           std::string* error) const {
    return WriteFilesChecked({Planned(content, like, check)}, error);
}

FileWrite Output::Planned(const ContentWriter& content, const std::string& like, const WrittenFileCheck& check) const {
    return FileWrite{path_, temporary_, WithoutPatches(content), like, ReadingBack(check)};
}

WriteOutcome Output::Write(const PatchingContentWriter& content, const WrittenPathCheck& check, std::string* error) const {
    return WriteFilesChecked({FileWrite{path_, temporary_, content, "", check}}, error);
}

}  // namespace kelpack
