#include "highlighter.hpp"
#include "searcher.hpp"

#include <fmt/format.h>

#include <cstdio>
#include <iterator>

namespace search {

void searcher::print_match(std::string_view path, std::uint32_t start_line, std::uint32_t end_line,
                           std::string_view snippet) {
    fmt::memory_buffer out;
    auto sink = std::back_inserter(out);
    if (use_color) {
        fmt::format_to(sink, "\n\x1b[1;90m// {}\x1b[0m ", path);
        fmt::format_to(sink, "\x1b[1;90m(Line: {} to {})\x1b[0m\n", start_line, end_line);
    } else {
        fmt::format_to(sink, "\n// {} ", path);
        fmt::format_to(sink, "(Line: {} to {})\n", start_line, end_line);
    }
    highlighter().highlight(snippet.data(), snippet.size(), out, use_color);
    out.push_back('\n');
    // One call holds stdout's lock for the whole block, so blocks never interleave.
    fmt::print(stdout, "{}", std::string_view(out.data(), out.size()));
}

} // namespace search
