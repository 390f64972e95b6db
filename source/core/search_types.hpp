#pragma once

// The types that every layer of the search passes on.

#include <cstdint>
#include <exception>
#include <string_view>

namespace search {

// How matches are written: blocks for a person, or one record per match (JSON Lines, grep's
// path:line:column:text) or per file (its path) for editors and scripts.
enum class output_format { blocks, json, vimgrep, files };

// One file being searched: its path (NUL-terminated) and bytes, an exception caught inside a
// libclang visit, which must not unwind through libclang, and whether a match was found.
struct file_context {
    std::string_view path;
    std::string_view content;
    std::exception_ptr failure;
    bool matched = false;
};

// One match as the writers see it.
struct match {
    std::string_view path;
    std::string_view snippet;
    std::string_view name;
    std::string_view kind_name;
    std::uint32_t start_line = 0;
    std::uint32_t end_line = 0;
    std::uint32_t column = 0;
};

// Where a cursor's text lies: the raw offset and length of its extent in the searched file (an
// offset at or past the content's end means elsewhere).
struct cursor_span {
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
};

// The expansion lines of a cursor's start and end.
struct cursor_lines {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
};

enum class verdict {
    pass,  // no match; its children are still looked at
    prune, // no match, and its children are not looked at either
    match,
};

} // namespace search
