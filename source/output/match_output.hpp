#pragma once

// The writers of matches: one for each output format, chosen here and nowhere else.

#include "core/search_types.hpp"

#include <cstdio>

namespace search {

// Writes one match in the chosen format, each record with a single write; the file list
// only notes that the file matched.
void report_match(file_context& file, const match& found);

// Ends a file's search: the file list prints the path of a file that matched.
void finish_file(const file_context& file);

// Where the file search's messages go: standard output, unless it carries records.
std::FILE* message_stream();

} // namespace search
