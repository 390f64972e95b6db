#pragma once

// The program's own lines. A stream that cannot take them must not end the search, so these
// never throw.

#include <fmt/format.h>

#include <cstdio>
#include <string_view>
#include <utility>

namespace search {

// "pyrn: SUBJECT: REASON", the line of every file, folder or setting that could not be used.
void report(std::string_view subject, std::string_view reason) noexcept;

// "pyrn: TEXT".
void report(std::string_view text) noexcept;

// A message of the search on stream ("Checking FILE"); a stream that cannot take it loses it.
template <class... Args>
void say(std::FILE* stream, fmt::format_string<Args...> format, Args&&... args) noexcept {
    try {
        fmt::print(stream, format, std::forward<Args>(args)...);
    } catch (...) {
        // The line is lost; what the search finds is not.
    }
}

} // namespace search
