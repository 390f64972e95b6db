#include "base/messages.hpp"
#include "base/tree_walk.hpp"
#include "base/worker_pool.hpp"
#include "core/searcher.hpp"
#include "core/source_files.hpp"
#include "search/file_search.hpp"

#include <fnmatch.h>
#include <xxhash.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>

namespace search {

namespace fs = std::filesystem;

namespace {

bool is_default_filter() {
    static const bool is_default = searcher::filter == "*.*";
    return is_default;
}

bool is_selected(const std::string& path) {
    if (is_default_filter()) {
        return has_source_extension(path);
    }
    // The filter's view lies over a NUL-terminated driver string.
    return fnmatch(searcher::filter.data(), path.c_str(), 0) == 0;
}

// The path's part below the root, which is the same in every checkout, picks its shard.
bool in_shard(std::string_view root, std::string_view path) {
    if (searcher::shard_count <= 1) {
        return true;
    }
    path.remove_prefix(std::min(root.size(), path.size()));
    while (!path.empty() && path[0] == '/') {
        path.remove_prefix(1);
    }
    return XXH3_64bits(path.data(), path.size()) % searcher::shard_count == searcher::shard_index;
}

// The type comes from the directory listing where it is known: only links and entries of an
// unknown type cost a status query, which follows the link.
bool is_searchable_file(const fs::directory_entry& entry) {
    std::error_code error;
    const bool regular = entry.is_regular_file(error);
    if (!error) {
        return regular;
    }
    // Vanished, or a dangling link.
    if (error != std::errc::no_such_file_or_directory && error != std::errc::not_a_directory) {
        report(entry.path().native(), error.message());
    }
    return false;
}

} // namespace

void searcher::directory_search(const char* search_path) {
    is_default_filter();
    const std::string_view root = search_path;
    auto visit = [root](const fs::directory_entry& entry) {
        const std::string& path = entry.path().native();
        if (is_searchable_file(entry) && is_selected(path) && in_shard(root, path)) {
            pool->post([copy = path] { search_file_task(copy); });
        }
    };
    auto report_and_go_on = [](const fs::path& path, const std::error_code& error) {
        report(path.native(), error.message());
        return true;
    };
    // The tasks read the settings, which live only as long as the run: whatever ends the walk,
    // none may be left behind.
    try {
        walk_tree(fs::path(search_path), visit, report_and_go_on);
    } catch (...) {
        pool->cancel_queued();
        pool->wait_all();
        throw;
    }
    pool->wait_all();
}

} // namespace search
