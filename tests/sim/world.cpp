// Part of the simulation (see sim.h): its bookkeeping, which is Reset,
// failure injection (Fail) and the call log every operation writes to.
#include "world.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

namespace sim::engine {

// Code pages the device converts: CP_ACP, which is Windows-1252 on the
// western devices the simulation stands for, and CP_UTF8, which takes no
// flags. A malformed UTF-8 sequence becomes U+FFFD. A count of -1 converts
// through the terminating NUL; without room (0) the units needed are given,
// and too little room fails (ERROR_INSUFFICIENT_BUFFER).
int MultiByteToWideChar(platform::UINT codePage, platform::DWORD flags, const char* bytes, int count,
                        char16_t* units, int room) {
    Args args;
    args.Number(codePage).Flags(flags).Narrow(count == -1 ? bytes : nullptr).Number(count).Pointer(units).Number(room);
    if (internal::Enter("MultiByteToWideChar", args)) return 0;
    constexpr platform::UINT kAnsi = 0, kUtf8 = 65001;
    if ((codePage != kAnsi && codePage != kUtf8) || bytes == nullptr || count == 0 || count < -1 || room < 0 ||
        (room > 0 && units == nullptr) || (codePage == kUtf8 && flags != 0)) {
        return 0;
    }
    size_t length = count == -1 ? std::strlen(bytes) + 1 : static_cast<size_t>(count);
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    static const char16_t k1252[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                       0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    std::u16string out;
    for (size_t i = 0; i < length;) {
        unsigned char c = in[i];
        if (codePage == kAnsi) {
            out += c >= 0x80 && c < 0xA0 ? k1252[c - 0x80] : static_cast<char16_t>(c);
            ++i;
            continue;
        }
        int more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        uint32_t point = more == 0 ? c : more == 1 ? c & 0x1F : more == 2 ? c & 0x0F : c & 0x07;
        size_t j = i + 1;
        for (int k = 0; k < more && j < length && (in[j] & 0xC0) == 0x80; ++k, ++j) point = point << 6 | (in[j] & 0x3F);
        static const uint32_t kLeast[4] = {0, 0x80, 0x800, 0x10000};
        bool whole = more >= 0 && j - i == static_cast<size_t>(more) + 1;
        if (!whole || point < kLeast[more] || point > 0x10FFFF || (point >= 0xD800 && point < 0xE000)) {
            out += u'\uFFFD';
            i = more < 0 ? i + 1 : j;
            continue;
        }
        i = j;
        if (point < 0x10000) {
            out += static_cast<char16_t>(point);
        } else {
            point -= 0x10000;
            out += static_cast<char16_t>(0xD800 | point >> 10);
            out += static_cast<char16_t>(0xDC00 | (point & 0x3FF));
        }
    }
    if (room == 0) return static_cast<int>(out.size());
    if (out.size() > static_cast<size_t>(room)) return 0;
    std::copy(out.begin(), out.end(), units);
    return static_cast<int>(out.size());
}

}  // namespace sim::engine
