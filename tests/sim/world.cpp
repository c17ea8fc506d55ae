// Part of the simulation (see sim.h): its bookkeeping, which is Reset,
// failure injection (Fail) and the call log every operation writes to.
#include "world.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>


namespace sim {
namespace {

struct FailRule {
    std::string operation;
    int skip;     // calls still to let through
    int count;    // calls still to fail; -1 is forever
};

// Each call with the simulated id of the thread that made it.
struct Call {
    std::string entry;
    platform::DWORD threadId;
};

std::vector<Call>& Log() {
    static std::vector<Call> log;
    return log;
}

std::vector<FailRule>& Rules() {
    static std::vector<FailRule> rules;
    return rules;
}

std::vector<void (*)()>& ResetsAdded() {
    static std::vector<void (*)()> resets;
    return resets;
}

}  // namespace

namespace internal {

std::recursive_mutex& Mutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

std::u16string Upper(const std::u16string& s) {
    std::u16string upper = s;
    for (auto& c : upper) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    return upper;
}

std::u16string Text(const char16_t* text) {
    if (text == nullptr) return std::u16string();
    // An integer id or atom in place of text is no pointer to read.
    auto value = reinterpret_cast<uintptr_t>(text);
    if (value < 0x10000) return u"#" + testsupport::U16(std::to_string(value));
    return std::u16string(text);
}

Args& Args::Add(const std::string& argument) {
    spelt_ += (spelt_.empty() ? "" : ", ") + argument;
    return *this;
}

Args& Args::Text(const char16_t* text) {
    if (text == nullptr) return Add("null");
    if (reinterpret_cast<uintptr_t>(text) < 0x10000) return Add(testsupport::U8(internal::Text(text)));
    return Add("\"" + testsupport::U8(text) + "\"");
}

Args& Args::Narrow(const char* text) { return Add(text != nullptr ? "\"" + std::string(text) + "\"" : "null"); }

Args& Args::Number(int64_t value) { return Add(std::to_string(value)); }

Args& Args::Flags(uint32_t value) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(value));
    return Add(hex);
}

Args& Args::Pointer(const void* pointer) { return Add(pointer != nullptr ? "ptr" : "null"); }

Args& Args::Name(const std::string& name) { return Add(name); }

void OnReset(void (*reset)()) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    ResetsAdded().push_back(reset);
}

bool Enter(const char* operation, const Args& args) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    std::string entry = std::string(operation) + "(" + args.Spelt() + ")";
    Log().push_back({entry, CurrentThreadId()});
    for (auto& rule : Rules()) {
        if (rule.operation != operation || rule.count == 0) continue;
        if (rule.skip > 0) {
            --rule.skip;
            continue;
        }
        if (rule.count > 0) --rule.count;
        return true;
    }
    return false;
}

}  // namespace internal

void Reset() {
    // Threads first, and without the lock, since they need it to see their WM_QUIT.
    internal::EndThreads();
    std::lock_guard<std::recursive_mutex> lock(internal::Mutex());
    Log().clear();
    Rules().clear();
    internal::ResetModules();
    internal::ResetRegistry();
    internal::ResetWindows();
    internal::ResetGdi();
    internal::ResetThreads();
    internal::ResetSockets();
    for (auto reset : ResetsAdded()) reset();
}

void Fail(const std::string& operation, int nth, int count) {
    std::lock_guard<std::recursive_mutex> lock(internal::Mutex());
    Rules().push_back({operation, nth - 1, count});
}

std::vector<std::string> CallLog() {
    std::lock_guard<std::recursive_mutex> lock(internal::Mutex());
    std::vector<std::string> log;
    for (const auto& call : Log()) log.push_back(call.entry);
    return log;
}

std::vector<std::string> CallLogOf(platform::DWORD threadId, platform::DWORD except) {
    std::lock_guard<std::recursive_mutex> lock(internal::Mutex());
    std::vector<platform::DWORD> started = StartedThreads();
    std::vector<std::string> log;
    for (const auto& call : Log()) {
        bool isStarted = std::find(started.begin(), started.end(), call.threadId) != started.end();
        if (threadId != 0 ? call.threadId == threadId : !isStarted && (except == 0 || call.threadId != except)) {
            log.push_back(call.entry);
        }
    }
    return log;
}

platform::DWORD CallingThread() { return internal::CurrentThreadId(); }

int CallCount(const std::string& operation) {
    std::lock_guard<std::recursive_mutex> lock(internal::Mutex());
    int n = 0;
    for (const auto& entry : Log()) {
        if (entry.entry == operation || entry.entry.rfind(operation + "(", 0) == 0) ++n;
    }
    return n;
}

}  // namespace sim
