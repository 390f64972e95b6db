#pragma once

// The types that every layer of the search passes on.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <unordered_set>

namespace search {

class held_output;

// How matches are written: blocks for a person, or one record per match (JSON Lines, grep's
// path:line:column:text) or per file (its path) for editors and scripts.
enum class output_format { blocks, json, vimgrep, files };

// Where a cursor's text lies: the raw offset and length of its extent in the searched file (an
// offset at or past the content's end means elsewhere).
struct cursor_span {
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
};

// A match as the visit reached it: the same kind over the same text is one match, however
// often the visit reaches it (a struct is a child of its typedef too).
struct reached_match {
    int kind = 0;
    cursor_span span;

    bool operator==(const reached_match& other) const {
        return kind == other.kind && span.offset == other.span.offset &&
               span.length == other.span.length;
    }
};

struct reached_match_hash {
    std::size_t operator()(const reached_match& reached) const {
        const std::uint64_t place = std::uint64_t{reached.span.offset} << 32 | reached.span.length;
        return std::hash<std::uint64_t>()(place * 31 + static_cast<std::uint64_t>(reached.kind));
    }
};

// One file being searched: its path (NUL-terminated) and bytes, an exception caught inside a
// libclang visit, which must not unwind through libclang, whether a match was found, the
// matches reported so far, and where its output on standard output is held until the files
// before it are printed (or nothing: written at once).
struct file_context {
    std::string_view path;
    std::string_view content;
    std::exception_ptr failure;
    bool matched = false;
    std::unordered_set<reached_match, reached_match_hash> reported;
    held_output* held = nullptr;
};

// One match as the writers see it. The name's place is where an editor jumps to: the line and
// column of a declaration's name or of a reference, and that line's text without its
// leading blanks.
struct match {
    std::string_view path;
    std::string_view snippet;
    std::string_view name;
    std::string_view kind_name;
    std::uint32_t start_line = 0;
    std::uint32_t end_line = 0;
    std::uint32_t column = 0;
    std::uint32_t name_line = 0;
    std::uint32_t name_column = 0;
    std::string_view name_line_text;
};

// The expansion lines of a cursor's start and end.
struct cursor_lines {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
};

// A qualified name: "::" followed by the names of the entity's scopes and its own, joined by
// "::". Its last component is the entity's own name, which may itself hold "::" (operator
// std::string), so where it begins is kept rather than searched for.
struct scoped_name {
    std::string_view text;
    std::uint32_t scope_length = 0; // the scopes' part, without the "::" after it

    std::string_view scopes() const { return text.substr(0, scope_length); }
    std::string_view last() const {
        return scope_length + 2 <= text.size() ? text.substr(scope_length + 2) : std::string_view();
    }
};

// What became of the files of a search, for --stats; the parses of the indexing session are
// counted by the session.
struct search_counts {
    std::atomic<std::uint64_t> files{0};      // read by a file task
    std::atomic<std::uint64_t> unreadable{0}; // listed by the walk, but could not be read
    std::atomic<std::uint64_t> with_query{0}; // passed the pre-filter
    std::atomic<std::uint64_t> from_cache{0};
    std::atomic<std::uint64_t> parsed_in_full{0}; // without the indexing session
    std::atomic<std::uint64_t> parses_lost{0};    // crashed, ran too long or out of memory
};

// A failure that ends the whole search: a file that libclang cannot parse at all, or libclang
// that cannot be loaded. The driver writes the text on the stream and ends with the status.
struct search_stopped {
    int status = 0;
    std::FILE* stream = stderr;
    std::string text;
};

enum class verdict {
    pass,  // no match; its children are still looked at
    prune, // no match, and its children are not looked at either
    match,
};

} // namespace search
