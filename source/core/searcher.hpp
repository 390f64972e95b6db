#pragma once

// The search settings, the process-wide owners and the four operations of the search. The
// operations are defined where their work is done: the walk and the file search in search/,
// the block writer in output/.

#include "core/kind_choice.hpp"
#include "core/search_types.hpp"

#include <clang-c/Index.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace search {

class worker_pool;
class compile_database;
class cursor_cache;
class indexing_session;
class walk_filter;

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

    // Search settings: written once by the driver before any worker exists, then read-only.
    static std::string_view query;
    static std::string_view filter;
    static std::vector<const char*> clang_options;
    static bool verbose;
    static bool exact_match;
    static bool ignore_case;
    static bool use_regex;
    static bool ignore_single_line_results;
    static bool use_color;
    static output_format format;
    // Standard output is a terminal: the control characters of what is printed are shown.
    static bool visible_controls;
    // --null: each path of the file list is followed by a NUL byte, not a line feed.
    static bool null_separated;
    // --shard K/N: only the files whose path below the root hashes to shard_index modulo
    // shard_count are searched.
    static std::uint32_t shard_index;
    static std::uint32_t shard_count;
    // Files in byte order of their paths, each file's matches in source order (--sort path).
    static bool sort_by_path;
    // .cu and .cuh files are parsed as CUDA: no language was chosen on the command line.
    static bool cuda_by_suffix;
    // Limits of one parse in a worker process (--parse-timeout, --parse-memory); 0: none.
    static std::uint64_t parse_timeout_seconds;
    static std::uint64_t parse_memory_mib;

    // The kinds searched for (the kind options, --include-expressions).
    static kind_choice kinds;

    // Walks the tree below search_path, posts one task per selected file and waits for all.
    static void directory_search(const char* search_path);

    // Pre-filters, parses and visits one file; path must be followed by a NUL byte. With
    // held, what the file search writes on standard output is added to it instead.
    static void file_search(std::string_view path, std::string_view content,
                            held_output* held = nullptr);

    // libclang visitor: decides for one cursor whether it is a match and reports it.
    static CXChildVisitResult visit_cursor(CXCursor cursor, CXCursor parent,
                                           CXClientData data) noexcept;

    // Prints one match as one block with a single write.
    static void print_match(std::string_view path, std::uint32_t start_line, std::uint32_t end_line,
                            std::string_view snippet);
};

} // namespace search
