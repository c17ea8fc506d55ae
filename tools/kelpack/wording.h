// Counts in messages, worded as a person would write them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelpack {

// "1 resource", "2 resources"; `plural` when it is not `singular` and "s".
inline std::string Counted(std::uint64_t n, const std::string& singular, const std::string& plural = std::string()) {
    return std::to_string(n) + " " + (n == 1 ? singular : plural.empty() ? singular + "s" : plural);
}

// The article before a number in digits, as it is read aloud: "an 8-colour",
// "an 11-colour", "an 18-colour", "an 80-colour", "a 3-colour", "a 100-colour".
inline const char* ArticleFor(std::uint64_t n) {
    // Split off thousands as read aloud: 11000 is "eleven thousand".
    while (n >= 1000 && !(n >= 11000 && n < 12000) && !(n >= 18000 && n < 19000)) n /= 1000;
    if (n >= 1000) return "an";
    std::string digits = std::to_string(n);
    return digits[0] == '8' || n == 11 || n == 18 ? "an" : "a";
}

// "a", "a and b", "a, b and c"; "a, b or c" with `last` "or".
inline std::string Listed(const std::vector<std::string>& items, const std::string& last = "and") {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 == items.size() ? " " + last + " " : ", ") + items[i];
    return text;
}

// "240x320": a size as messages and file names write it.
inline std::string SizeText(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace kelpack
