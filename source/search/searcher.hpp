#pragma once

// The search settings, the process-wide owners and the four operations of the search. Below
// this layer nothing reads them: each part is handed what it needs.

#include "base/tree_walk.hpp"
#include "cache/file_state.hpp"
#include "core/search_types.hpp"
#include "match/match_decision.hpp"
#include "output/match_output.hpp"

#include <clang-c/Index.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace search {

class worker_pool;
class compile_database;
class cursor_cache;
class indexing_session;
class walk_filter;

// What the driver chose, written once before any worker exists, then read-only.
struct search_settings {
    // What a match is: the query, the kinds, the line rule.
    match_rules rules;
    // How matches are written.
    match_writer writer;
    // The file name pattern of --filter.
    std::string_view filter = "*.*";
    std::vector<const char*> clang_options;
    bool verbose = false;
    // .cu and .cuh files are parsed as CUDA: no language was chosen on the command line.
    bool cuda_by_suffix = false;
    // Files in byte order of their paths, each file's matches in source order (--sort path).
    bool sort_by_path = false;
    // --shard K/N: only the files whose path below the root hashes to shard_index modulo
    // shard_count are searched.
    std::uint32_t shard_index = 0;
    std::uint32_t shard_count = 1;
    // Limits of one parse in a worker process (--parse-timeout, --parse-memory); 0: none.
    std::uint64_t parse_timeout_seconds = 0;
    std::uint64_t parse_memory_mib = 0;
};

using entry_visit = std::function<void(const walk_entry&)>;

// The files below a folder that the search takes, in the walk's order, those among them that
// the cache's index knows, unchanged, not to hold the query, and the hashes of the bytes of
// the others it knows unchanged.
struct tree_listing {
    std::vector<std::string> files;
    std::vector<char> ruled_out;
    std::vector<std::optional<std::uint64_t>> known_hashes;
    std::vector<file_state> states; // as the walk took them; none taken is a state that !exists
};

class searcher {
public:
    // Process-wide owners, filled by the driver. The pool is stopped when the search run ends,
    // however it ends, so that no worker outlives the strings the settings view; the others
    // are destroyed at exit in the reverse order of their definitions (search/owners.cpp).
    static std::unique_ptr<worker_pool> pool;
    // The project's compilation database (-p), or nothing.
    static std::unique_ptr<compile_database> compile_commands;
    // The cursor cache (--cache), or nothing.
    static std::unique_ptr<cursor_cache> cache;
    // The indexing session that C++ units are parsed in, or nothing: each file parsed in full.
    static std::unique_ptr<indexing_session> indexing;

    // Counted by every worker, read by the driver after the search.
    static search_counts counts;
    // What the walks of the tree leave out (--exclude, --gitignore), or nothing.
    static std::unique_ptr<walk_filter> excluded;

    // Written once by the driver before any worker exists, then read-only.
    static search_settings settings;

    // Searches search_path: a file whatever its name, or the files list_tree finds below a
    // folder; waits for all.
    static void directory_search(const char* search_path);
    // Lists the files below the folder root that the search takes, on this thread, while
    // the pool prepares the cache's index and takes the files' states; every other entry of
    // the walk goes to on_other. A folder below root that cannot be read is said and passed;
    // root itself throws filesystem_error.
    static tree_listing list_tree(const std::string& root, const entry_visit& on_other);
    // Posts one task per file of list_tree that the index does not rule out; waits for all.
    static void search_files(const tree_listing& listing);

    // Pre-filters, parses and visits one file; path must be followed by a NUL byte. With
    // held, what the file search writes on standard output is added to it instead.
    static void file_search(std::string_view path, std::string_view content,
                            held_output* held = nullptr);
    // Whether the cache answers a file whose bytes had this hash when the index took them,
    // from one lookup of its entry: unread when the entry holds no record that could be a
    // match, else from the bytes that read gives, if they are still of that hash. path must be
    // followed by a NUL byte.
    static bool answered_from_entry(std::string_view path, std::uint64_t content_hash,
                                    const std::function<std::string_view()>& read,
                                    held_output* held);

    // libclang visitor: decides for one cursor whether it is a match and reports it.
    static CXChildVisitResult visit_cursor(CXCursor cursor, CXCursor parent,
                                           CXClientData data) noexcept;

    // Ends the search from a file task: the first failure is kept, the tasks still to run do
    // nothing, and directory_search throws it on the walk's thread.
    static void stop(std::exception_ptr failure) noexcept;
    static bool is_stopped() noexcept;

    // Prints one match as one block with a single write.
    static void print_match(std::string_view path, std::uint32_t start_line, std::uint32_t end_line,
                            std::string_view snippet);
};

} // namespace search
