#pragma once

#include <string>
#include <string_view>

namespace testing_support {

// Removes the highlighter's escape pairs from s into plain. False unless every opener wraps
// a non-empty, escape-free piece and is closed by a reset, and no other escape appears.
inline bool strip_escapes(std::string_view s, std::string& plain) {
    static constexpr std::string_view openers[] = {"\x1b[1;95m", "\x1b[1;94m", "\x1b[1;93m",
                                                   "\x1b[1;96m", "\x1b[1;92m", "\x1b[1;91m",
                                                   "\x1b[0;90m"};
    constexpr std::string_view reset = "\x1b[0m";
    plain.clear();
    std::size_t i = 0;
    while (i < s.size()) {
        if (s[i] != '\x1b') {
            plain += s[i++];
            continue;
        }
        bool known = false;
        for (std::string_view opener : openers) {
            if (s.substr(i, opener.size()) == opener) {
                known = true;
                i += opener.size();
                break;
            }
        }
        const std::size_t end = s.find(reset, i);
        if (!known || end == std::string_view::npos || end == i || s.find('\x1b', i) != end) {
            return false;
        }
        plain.append(s.substr(i, end - i));
        i = end + reset.size();
    }
    return true;
}

} // namespace testing_support
