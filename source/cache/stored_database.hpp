#pragma once

// The commands of a compile_commands.json kept in the cursor cache, by the file's absolute path
// and content: a search whose database did not change does not read its JSON again.

#include "cache/cursor_cache.hpp"
#include "clang/compile_database.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace search {

// The commands stored for the database file at absolute_path, when they were made from these
// very bytes and their directories, present and absent, are as they were.
bool find_database_commands(cursor_cache& cache, const std::string& absolute_path,
                            std::string_view content, database_commands& out);

// Stores the commands made from the database file at absolute_path, whose bytes are content.
void store_database_commands(cursor_cache& cache, const std::string& absolute_path,
                             std::string_view content, const database_commands& found);

} // namespace search
