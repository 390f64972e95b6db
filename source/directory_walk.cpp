#include "searcher.hpp"
#include "tree_walk.hpp"
#include "worker_pool.hpp"

#include <fmt/format.h>

#include <fnmatch.h>

#include <array>
#include <filesystem>
#include <string>
#include <unordered_set>

namespace search {

namespace fs = std::filesystem;

namespace {

const std::unordered_set<std::string_view>& source_extensions() {
    static const std::unordered_set<std::string_view> extensions{
        ".c", ".h", ".cpp", ".cc", ".cxx", ".hh", ".hxx", ".hpp", ".cu", ".cuh"};
    return extensions;
}

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

bool is_searchable_file(const fs::path& path) {
    std::error_code error;
    fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found) {
        return false; // vanished, or a dangling link
    }
    if (error) {
        fmt::print(stderr, "pyrn: {}: {}\n", path.native(), error.message());
        return false;
    }
    return status.type() == fs::file_type::regular;
}

} // namespace

bool has_source_extension(std::string_view path) {
    for (std::string_view extension : source_extensions()) {
        if (path.size() >= extension.size() &&
            path.compare(path.size() - extension.size(), extension.size(), extension) == 0) {
            return true;
        }
    }
    return false;
}

void searcher::directory_search(const char* search_path) {
    is_default_filter();
    auto visit = [](const fs::directory_entry& entry) {
        const std::string& path = entry.path().native();
        if (is_searchable_file(entry.path()) && is_selected(path)) {
            pool->post([copy = path] { search_file_task(copy); });
        }
    };
    auto report_and_go_on = [](const fs::path& path, const std::error_code& error) {
        fmt::print(stderr, "pyrn: {}: {}\n", path.native(), error.message());
        return true;
    };
    walk_tree(fs::path(search_path), visit, report_and_go_on);
    pool->wait_all();
}

} // namespace search
