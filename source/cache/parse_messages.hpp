#pragma once

// What crosses between the search and a parse worker: a request names a file, its arguments and
// the bytes searched; the reply carries the file's cursor records in the cache's format, what
// the parse depended on and its diagnostics. Each is one buffer.

#include "cache/cursor_records.hpp"
#include "cache/file_dependencies.hpp"
#include "core/search_types.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace search {

// The request as the worker reads it: every string a view into the message, NUL-terminated.
struct parse_request {
    const char* working_dir = "";
    const char* source = "";
    std::vector<const char*> arguments;
    std::string_view content;
    bool indexed = false;      // through the worker's indexing session, else in full
    bool diagnostics = false;  // the reply carries the unit's diagnostics
    bool dependencies = false; // and what the parse depended on
    // The unit keeps the macro definitions (--macro), which cost every parse.
    bool macro_definitions = false;
    // The cursor kinds whose records are wanted, or empty for all: a search that fills no cache
    // replays only the kinds it searches for.
    std::vector<std::uint32_t> kinds;
};

// The request of parse_request's fields but the arguments and the content.
std::string encode_request(const parse_request& request, const std::vector<const char*>& arguments,
                           std::string_view content);
// Views into message, which must outlive them; false when it is no request.
bool decode_request(std::string& message, parse_request& out);

enum class parse_result : std::uint32_t {
    parsed,
    refused,       // libclang made no unit
    crashed,       // libclang said it crashed
    visit_stopped, // the visit of the unit was stopped
    failed,        // an error of the worker's own, in failure
};

// How the unit was made.
enum class parse_road : std::uint32_t { in_full, indexed, indexed_then_in_full };

struct parse_reply {
    parse_result result = parse_result::parsed;
    parse_road road = parse_road::in_full;
    file_records records;
    // One per record when the records cannot tell their lines (records.lines_in_file false).
    std::vector<cursor_lines> lines;
    file_dependencies dependencies;
    std::vector<std::string> diagnostics; // lines, as libclang formats them
    std::string failure;
};

std::string encode_reply(const parse_reply& reply);
// False when message is no whole reply, or its records do not fit content.
bool decode_reply(std::string_view message, std::string_view content, parse_reply& out);

} // namespace search
