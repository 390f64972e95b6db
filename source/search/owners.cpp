// The process-wide owners, defined here because their destructors need the complete types.

#include "base/walk_filter.hpp"
#include "base/worker_pool.hpp"
#include "cache/cursor_cache.hpp"
#include "search/searcher.hpp"
#include "clang/compile_database.hpp"
#include "clang/unit_parse.hpp"

namespace search {

// Static objects of one file are destroyed in the reverse order of these definitions: the
// walk filter, the cache, the database, clang_options and the indexing session go before the
// pool, which the search run has stopped.
search_counts searcher::counts;
std::unique_ptr<worker_pool> searcher::pool;
search_settings searcher::settings;
std::unique_ptr<indexing_session> searcher::indexing;
std::unique_ptr<compile_database> searcher::compile_commands;
std::unique_ptr<cursor_cache> searcher::cache;
std::unique_ptr<walk_filter> searcher::excluded;

void searcher::print_match(std::string_view path, std::uint32_t start_line, std::uint32_t end_line,
                           std::string_view snippet) {
    settings.writer.print_block(path, start_line, end_line, snippet);
}

} // namespace search
