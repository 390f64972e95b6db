#pragma once

#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

namespace search {

// Visits every entry below root in pre-order, in the order the file system lists each
// directory, descending into directories but not through symbolic links to them; the root
// itself is not visited. Entry paths are the root as given joined with the names, exactly
// as std::filesystem::recursive_directory_iterator spells them.
//
// A directory that cannot be opened or read is handed to fail(path, error): when fail
// returns true the walk goes on with the next entry, otherwise it stops at once. (The
// recursive iterator cannot go on after such an error, hence the explicit stack.)
template <class Visit, class Fail>
void walk_tree(const std::filesystem::path& root, Visit&& visit, Fail&& fail) {
    namespace fs = std::filesystem;
    struct open_dir {
        fs::path path;
        fs::directory_iterator next;
    };
    std::vector<open_dir> stack;
    auto open = [&](fs::path dir) {
        std::error_code error;
        fs::directory_iterator first(dir, error);
        if (error) {
            return fail(dir, error);
        }
        stack.push_back({std::move(dir), std::move(first)});
        return true;
    };
    if (!open(root)) {
        return;
    }
    while (!stack.empty()) {
        if (stack.back().next == fs::directory_iterator()) {
            stack.pop_back();
            continue;
        }
        const fs::directory_entry& entry = *stack.back().next;
        visit(entry);
        std::error_code error;
        bool descend = !entry.is_symlink(error) && entry.is_directory(error) && !error;
        fs::path below = descend ? entry.path() : fs::path();
        stack.back().next.increment(error);
        if (error) {
            fs::path failed = std::move(stack.back().path);
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
