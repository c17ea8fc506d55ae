#include "output.h"

namespace kelpack {

Output::Output(const std::string& path)
    : path_(path), output_(IdentifyFile(path)), temporary_(IdentifyFile(TemporaryPath(path))) {}

bool Output::Allows(const std::string& input, const std::string& what, std::string* error) const {
    FileIdentity id = IdentifyFile(input);
    if (SameIdentity(id, output_)) {
        *error = "-o " + path_ + " and " + what + " are the same file; kelpack never changes its input, so choose another output";
        return false;
    }
    if (SameIdentity(id, temporary_)) {
        *error = what + " is " + TemporaryPath(path_) + ", the temporary file kelpack writes -o " + path_ +
                 " through; rename it or choose another output";
        return false;
    }
    return true;
}

bool Output::Admit(const std::string& input, const std::string& what, Outcome* outcome) const {
    std::string why;
    if (Allows(input, what, &why)) return true;
    outcome->Fail(kExitUsage, why);
    return false;
}

WriteOutcome Output::Write(const ContentWriter& content, const std::string& like, const WrittenFileCheck& check,
                           std::string* error) const {
    return WriteFileChecked(path_, content, like, check, error);
}

WriteOutcome Output::Write(const PatchingContentWriter& content, const WrittenPathCheck& check, std::string* error) const {
    return WriteFileChecked(path_, content, "", check, error);
}

}  // namespace kelpack
