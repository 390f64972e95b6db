#include "cache/line_index.hpp"

#include <algorithm>
#include <cstring>

namespace search {

std::uint32_t line_index::line_of(std::uint32_t offset) {
    if (!found) {
        find_line_starts();
        found = true;
    }
    const auto later = std::upper_bound(starts.begin(), starts.end(), offset);
    return static_cast<std::uint32_t>(later - starts.begin()) + 1;
}

void line_index::find_line_starts() {
    const char* const begin = content.data();
    const char* const end = begin + content.size();
    // Most files hold no carriage return: memchr finds their line feeds many bytes at a time.
    if (std::memchr(begin, '\r', content.size()) == nullptr) {
        for (const char* at = begin;
             (at = static_cast<const char*>(std::memchr(at, '\n', end - at))) != nullptr;) {
            ++at;
            starts.push_back(static_cast<std::uint32_t>(at - begin));
        }
        return;
    }
    for (const char* at = begin; at < end; ++at) {
        if (*at == '\r' && at + 1 < end && at[1] == '\n') {
            ++at;
        }
        if (*at == '\n' || *at == '\r') {
            starts.push_back(static_cast<std::uint32_t>(at + 1 - begin));
        }
    }
}

} // namespace search
