#pragma once

// Paths as the cache keeps them: below the search's root relative to it, so that two checkouts
// of one tree at different places share their entries; elsewhere absolute.

#include <string>
#include <string_view>

namespace search {

class tree_root {
public:
    // root: an absolute directory, lexically normal.
    explicit tree_root(std::string root);

    // An absolute path as the cache stores it: relative below the root ("" for the root itself).
    std::string stored_path(std::string_view path) const;
    // The path a stored one stands for in this tree.
    std::string path_in_tree(std::string_view stored) const;
    // An argument with each mention of the root (followed by '/' or its end) made a mark, as
    // "-I/root/include" and "-working-directory=/root" are keyed.
    std::string stored_argument(std::string_view argument) const;

private:
    std::string root;
    std::string prefix; // the root with a '/' at its end
};

} // namespace search
