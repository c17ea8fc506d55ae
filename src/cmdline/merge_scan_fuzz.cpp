// Fuzzes the merge of an embedded command line with the user's, and the
// argument scan that follows it, on the simulated platform.
//
// Input: 1 byte of flags, 2 bytes (little-endian) of resource length, the
// resource bytes, then the user's command line as UTF-16 (cut at its first
// NUL, as the platform hands it over).
//   flag 0x01  the launcher carries a "CommandLine" resource
//   flag 0x02  it cannot be loaded (the merge then sees none)
//   flag 0x04  a running instance of the scanned target name exists
//
// Besides the sanitizers, the target checks what must hold for every input:
// the merged line's shape around the embedded text, the scan's arguments
// inside its private copy, a target name free of '.' and '/', and a handoff
// exactly when a window of the target's class runs.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cmdline/merge.h"
#include "cmdline/scan.h"
#include "contract/kel.h"
#include "relay_or_activate.h"
#include "sim.h"
#include "text/text.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

size_t Take(const uint8_t*& data, size_t& size, size_t want) {
    size_t n = want < size ? want : size;
    data += n;
    size -= n;
    return n;
}

bool IsPrefixMarker(const std::u16string& s) {
    return s.size() > 2 && (s[0] == u'-' || s[0] == u'/') && s[1] == u'+';
}

// What a merge must look like, without redoing it: with no prefix section it
// is exactly a space, the embedded text, and the rest behind one more space;
// with one, the embedded text follows two spaces and is followed by nothing
// or by a space and an unchanged tail of the user's line.
void CheckMergeShape(const std::u16string& merged, const std::u16string& embedded, const std::u16string& user) {
    size_t start = user.find_first_not_of(u' ');
    std::u16string rest = start == std::u16string::npos ? std::u16string() : user.substr(start);
    if (!IsPrefixMarker(rest)) {
        std::u16string expected = u" " + embedded;
        if (!rest.empty()) expected += u" " + rest;
        Check(merged == expected);
        return;
    }
    // Each prefix token is copied and followed by one space, so the copied
    // prefix is empty or ends in a space; then comes a space and the embedded text.
    Check(merged.size() <= 2 * user.size() + embedded.size() + 2);
    std::u16string marked = u" " + embedded;
    for (size_t at = merged.find(marked); at != std::u16string::npos; at = merged.find(marked, at + 1)) {
        if (at != 0 && merged[at - 1] != u' ') continue;
        size_t after = at + marked.size();
        if (after == merged.size()) return;
        if (merged[after] != u' ') continue;
        std::u16string tail = merged.substr(after + 1);
        if (!tail.empty() && tail[0] != u' ' && user.size() >= tail.size() &&
            user.compare(user.size() - tail.size(), tail.size(), tail) == 0) {
            return;
        }
    }
    Check(false);
}

// Every argument and the target lie inside the scan's own text: the copy of
// the line, or the default name standing in for a line without arguments.
void CheckScan(const cmdline::ScanResult& scan, const char16_t* line) {
    std::u16string probe(line);
    size_t textLength = cmdline::SplitArguments(probe.data(), nullptr) == 0 ? 8 : probe.size();
    Check(scan.count >= 1);
    Check(scan.copy != nullptr && scan.arguments != nullptr);
    for (int32_t i = 0; i < scan.count; ++i) {
        Check(scan.arguments[i] >= scan.copy && scan.arguments[i] <= scan.copy + textLength);
        Check(i == 0 || scan.arguments[i] > scan.arguments[i - 1]);
    }
    if (scan.kind == cmdline::ScanKind::kRelay) {
        Check(scan.relayAt >= 0 && scan.relayAt < scan.count);
        Check(scan.target == nullptr);
        // The message is there exactly when an argument follows the option,
        // and is that argument's every character and one newline.
        Check((scan.relayMessage != nullptr) == (scan.relayAt + 1 < scan.count));
        if (scan.relayMessage != nullptr) {
            const char16_t* command = scan.arguments[scan.relayAt + 1];
            Check(scan.relayMessageLength == static_cast<int32_t>(std::u16string(command).size()) + 1);
            Check(scan.relayMessage[scan.relayMessageLength - 1] == '\n' && scan.relayMessage[scan.relayMessageLength] == 0);
        }
        return;
    }
    Check(scan.relayAt == -1);
    Check(scan.relayMessage == nullptr);
    Check(scan.target != nullptr);
    if (scan.defaultTarget != nullptr) {
        Check(scan.target == scan.defaultTarget);
        Check(std::u16string(scan.target) == u"StartKel");
    } else {
        Check(scan.target >= scan.copy && scan.target <= scan.copy + textLength);
    }
    for (const char16_t* c = scan.target; *c != 0; ++c) Check(*c != u'.' && *c != u'/');
}

// The pure scan of a line: its arguments, and the same count from both passes of the split.
void ScanOnly(const char16_t* line) {
    cmdline::ScanResult scan = cmdline::ScanCommandLine(line);
    CheckScan(scan, line);

    std::u16string copy(line);
    int32_t counted = cmdline::SplitArguments(copy.data(), nullptr);
    auto** list = static_cast<char16_t**>(std::malloc((static_cast<size_t>(counted) + 1) * sizeof(char16_t*)));
    Check(cmdline::SplitArguments(copy.data(), list) == counted);
    for (int32_t i = 0; i < counted; ++i) {
        // No argument holds a line break, and only a quoted one a space.
        for (const char16_t* c = list[i]; *c != 0; ++c) Check(*c != 0x0A && *c != 0x0D);
    }
    std::free(list);
    cmdline::FreeScan(&scan);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    uint8_t flags = data[0];
    size_t resourceLength = data[1] | (data[2] << 8);
    Take(data, size, 3);
    const char* resourceBytes = reinterpret_cast<const char*>(data);
    std::string resource(resourceBytes, Take(data, size, resourceLength));

    std::u16string user(size / 2, u'\0');
    std::memcpy(user.data(), data, user.size() * 2);
    user = user.c_str();

    sim::Reset();
    // A resource that cannot be loaded reaches the merge as none at all.
    bool hasResource = (flags & 0x01) != 0 && (flags & 0x02) == 0;

    // The user's line and its NUL alone in a block of their size, so that a read past the NUL is caught;
    // the resource bytes alone in a block of their size, with no terminator behind them.
    auto* userLine = static_cast<char16_t*>(std::malloc((user.size() + 1) * sizeof(char16_t)));
    std::memcpy(userLine, user.c_str(), (user.size() + 1) * sizeof(char16_t));
    char* exact = static_cast<char*>(std::malloc(resource.size() > 0 ? resource.size() : 1));
    if (!resource.empty()) std::memcpy(exact, resource.data(), resource.size());
    char16_t* merged = cmdline::MergeCommandLine(hasResource ? exact : nullptr,
                                                 static_cast<uint32_t>(resource.size()), userLine);
    Check(merged != userLine);   // the merge's own copy, whatever the shape
    if (!hasResource) {
        Check(std::u16string(merged) == user);
    } else {
        char16_t* embedded = cmdline::EmbeddedCommandLine(exact, static_cast<uint32_t>(resource.size()));
        std::u16string e(embedded);
        std::free(embedded);
        // The embedded text stops at the first NUL, LF or CR byte and widens the rest.
        size_t cut = resource.find_first_of(std::string("\0\n\r", 3));
        Check(e.size() == (cut == std::string::npos ? resource.size() : cut));
        if (user.empty()) {
            Check(std::u16string(merged) == e);
        } else {
            CheckMergeShape(merged, e, user);
        }
    }
    std::free(exact);

    // The scan: find the target first, so a running instance can stand in for it.
    size_t mergedLength = std::char_traits<char16_t>::length(merged);
    cmdline::ScanResult scan = cmdline::ScanCommandLine(merged);
    CheckScan(scan, merged);
    bool relay = scan.kind == cmdline::ScanKind::kRelay;
    std::u16string target = relay ? u"" : scan.target;
    cmdline::FreeScan(&scan);
    Check(std::char_traits<char16_t>::length(merged) == mergedLength);   // the scan left the line alone

    platform::HWND running = nullptr;
    if ((flags & 0x04) != 0 && !relay && !target.empty()) running = sim::AddForeignWindow(target);
    cmdline::ScanOutcome result = testsupport::ScanAndRelayOrActivate(merged);
    if (relay) {
        // No engine port is registered, so a relay never delivers.
        Check(result == cmdline::ScanOutcome::kGoOn);
    } else if (running != nullptr) {
        Check(result == cmdline::ScanOutcome::kStop);
        auto posted = sim::PostedMessages(running);
        Check(posted.size() == 1 && posted[0].message == kel::kActivationMessage);
    } else {
        Check(result == cmdline::ScanOutcome::kGoOn);
    }

    ScanOnly(userLine);
    std::free(merged);
    std::free(userLine);
    return 0;
}
