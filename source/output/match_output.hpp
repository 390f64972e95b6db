#pragma once

// The writers of matches: one for each output format, chosen here and nowhere else.

#include "core/search_types.hpp"

#include <cstdio>
#include <string_view>

namespace search {

// Writes one match in the chosen format, each record with a single write, or adds it to the
// file's held output; the file list only notes that the file matched.
void report_match(file_context& file, const match& found);

// Ends a file's search: the file list prints the path of a file that matched.
void finish_file(file_context& file);

// A message of the file search on message_stream(), or held with the file's output when
// that stream is standard output.
void print_message(file_context& file, std::string_view text);

// Writes text on standard output with one write.
void write_out(std::string_view text);

// Where the file search's messages go: standard output, unless it carries records.
std::FILE* message_stream();

} // namespace search
