#include "outcome.h"

#include <algorithm>

namespace kelpack {

namespace {

// How bad an exit code is: a usage error stops a run before anything else
// is judged, an unreadable file before what it would have held is.
int Rank(int code) {
    switch (code) {
        case kExitOk: return 0;
        case kExitRejected: return 1;
        case kExitWrite: return 2;
        case kExitBadImage: return 3;
        case kExitRead: return 4;
        case kExitUsage: return 5;
        default: return 6;
    }
}

bool Holds(const std::vector<std::string>& list, const std::string& text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

}  // namespace

void Outcome::Raise(int code) {
    if (Rank(code) > Rank(exitCode)) exitCode = code;
}

void Outcome::Fail(int code, const std::string& error) {
    errors.push_back(error);
    Raise(code);
}

void Outcome::FailOnce(int code, const std::string& error) {
    if (!Holds(errors, error)) errors.push_back(error);
    Raise(code);
}

void Outcome::Warn(const std::string& warning) {
    if (!Holds(warnings, warning)) warnings.push_back(warning);
}

void PrintOutcome(const Outcome& o, std::string* out, std::string* err) {
    for (const std::string& w : o.warnings) *err += "kelpack: warning: " + w + "\n";
    for (const std::string& e : o.errors) *err += "kelpack: error: " + e + "\n";
    if (o.Ok()) {
        for (const std::string& n : o.notes) *err += "kelpack: note: " + n + "\n";
        *out += o.output;
    } else if (o.nothingWritten) {
        *err += "kelpack: nothing was written\n";
    }
}

}  // namespace kelpack
