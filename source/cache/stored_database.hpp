#pragma once

// The entries of a compile_commands.json kept in the cursor cache, by the file's path and
// content: a search whose database did not change reads neither the JSON nor libclang for it.

#include "cache/cursor_cache.hpp"
#include "clang/compile_database.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace search {

// The entries stored for the database file at absolute_path, when they were read from these
// very bytes.
bool find_database_entries(cursor_cache& cache, const std::string& absolute_path,
                           std::string_view content, std::vector<database_entry>& out);

// Stores the entries read from the database file at absolute_path, whose bytes are content.
void store_database_entries(cursor_cache& cache, const std::string& absolute_path,
                            std::string_view content, const std::vector<database_entry>& entries);

} // namespace search
