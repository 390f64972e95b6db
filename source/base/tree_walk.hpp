#pragma once

#include "base/walk_filter.hpp"

#include <cstddef>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

namespace search {

struct walk_options {
    // Folders that it leaves out are neither visited nor entered. Files are the visitor's to
    // judge: most are no candidates anyway, and the ignore rules cost a lookup per path.
    walk_filter* filter = nullptr;
    // Each folder's entries in byte order of their names, with a '/' after a folder's name:
    // the pre-order walk then yields the paths in byte order.
    bool sorted = false;
};

// One folder's entries, in the order the file system lists them or sorted.
class folder_entries {
public:
    // Opens the folder; error tells why it could not be opened, or, when sorted, why it could
    // not be read to its end (the entries read so far are kept).
    folder_entries(std::filesystem::path path, bool sorted, std::error_code& error);

    const std::filesystem::path& path() const { return folder; }
    bool done() const;
    const std::filesystem::directory_entry& entry() const;
    void advance(std::error_code& error);

private:
    std::filesystem::path folder;
    std::filesystem::directory_iterator next;
    std::vector<std::filesystem::directory_entry> listed;
    std::size_t at = 0;
    bool sorted;
};

// Where the names below the root begin in the paths of a walk from root.
std::size_t relative_start(const std::filesystem::path& root);

// Visits every entry below root in pre-order, descending into directories but not through
// symbolic links to them; the root itself is not visited. Entry paths are the root as given
// joined with the names, exactly as std::filesystem::recursive_directory_iterator spells them.
//
// A directory that cannot be opened or read is handed to fail(path, error): when fail
// returns true the walk goes on with the next entry, otherwise it stops at once. (The
// recursive iterator cannot go on after such an error, hence the explicit stack.)
template <class Visit, class Fail>
void walk_tree(const std::filesystem::path& root, Visit&& visit, Fail&& fail,
               const walk_options& options = {}) {
    namespace fs = std::filesystem;
    const std::size_t names_start = relative_start(root);
    std::vector<folder_entries> stack;
    auto open = [&](fs::path dir) {
        std::error_code error;
        folder_entries entries(std::move(dir), options.sorted, error);
        if (error && !fail(entries.path(), error)) {
            return false;
        }
        if (!error || options.sorted) {
            stack.push_back(std::move(entries));
        }
        return true;
    };
    if (!open(root)) {
        return;
    }
    while (!stack.empty()) {
        if (stack.back().done()) {
            stack.pop_back();
            continue;
        }
        const fs::directory_entry& entry = stack.back().entry();
        std::error_code error;
        bool descend = !entry.is_symlink(error) && entry.is_directory(error) && !error;
        const bool left_out = descend && options.filter != nullptr &&
                              options.filter->leaves_out(entry.path().c_str() + names_start, true);
        if (!left_out) {
            visit(entry);
        }
        descend = descend && !left_out;
        fs::path below = descend ? entry.path() : fs::path();
        stack.back().advance(error);
        if (error) {
            fs::path failed = stack.back().path();
            stack.pop_back();
            if (!fail(failed, error)) {
                return;
            }
        }
        if (descend && !open(std::move(below))) {
            return;
        }
    }
}

} // namespace search
