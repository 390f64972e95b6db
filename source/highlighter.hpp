#pragma once

#include <fmt/format.h>

#include <cstddef>
#include <string_view>

namespace search {

// Single-pass lexer that appends a snippet to an output buffer, with ANSI colours around
// keywords, type names, some identifiers, literals and comments.
class highlighter {
public:
    void highlight(const char* data, std::size_t length, fmt::memory_buffer& output, bool color);

private:
    std::string_view text;
    fmt::memory_buffer* out = nullptr;
    std::size_t pos = 0;
    bool colour = true;
};

} // namespace search
