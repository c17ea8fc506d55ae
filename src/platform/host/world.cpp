// Part of the host simulation (see sim.h): its bookkeeping, which is Reset,
// failure injection (Fail) and the call log every operation writes to.
#include "platform/host/world.h"

#include <cstdint>
#include <vector>

namespace sim {
namespace {

struct FailRule {
    std::string operation;
    int skip;     // calls still to let through
    int count;    // calls still to fail; -1 is forever
};

std::vector<std::string>& Log() {
    static std::vector<std::string> log;
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

std::u16string Text(const char16_t* text) { return text != nullptr ? std::u16string(text) : std::u16string(); }

bool Enter(const char* operation, const std::u16string& argument) {
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    std::string entry = operation;
    if (!argument.empty()) entry += "(" + U8(argument) + ")";
    Log().push_back(entry);
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
    return Log();
}

int CallCount(const std::string& operation) {
    std::lock_guard<std::recursive_mutex> lock(internal::Mutex());
    int n = 0;
    for (const auto& entry : Log()) {
        if (entry == operation || entry.rfind(operation + "(", 0) == 0) ++n;
    }
    return n;
}

std::u16string U16(const std::string& utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        auto c = static_cast<unsigned char>(utf8[i]);
        uint32_t cp = c;
        size_t extra = 0;
        if (c >= 0xF0) { cp = c & 0x07; extra = 3; }
        else if (c >= 0xE0) { cp = c & 0x0F; extra = 2; }
        else if (c >= 0xC0) { cp = c & 0x1F; extra = 1; }
        ++i;
        for (size_t k = 0; k < extra && i < utf8.size(); ++k, ++i) {
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string U8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

}  // namespace sim
