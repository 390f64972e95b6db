#include "cache/tree_root.hpp"

#include "base/paths.hpp"

namespace search {

namespace {

// Stands for the root in stored arguments; no path holds it.
constexpr char root_mark = '\x01';

} // namespace

tree_root::tree_root(std::string root)
    : root(std::move(root)), prefix(ends_with(this->root, "/") ? this->root : this->root + '/') {}

std::string tree_root::stored_path(std::string_view path) const {
    if (path == root) {
        return {};
    }
    if (starts_with(path, prefix)) {
        return std::string(path.substr(prefix.size()));
    }
    return std::string(path);
}

std::string tree_root::path_in_tree(std::string_view stored) const {
    if (stored.empty()) {
        return root;
    }
    if (stored[0] == '/') {
        return std::string(stored);
    }
    return prefix + std::string(stored);
}

std::string tree_root::stored_argument(std::string_view argument) const {
    if (root == "/") { // every path is below it: there is nothing to move
        return std::string(argument);
    }
    std::string out;
    std::size_t from = 0;
    for (std::size_t at = argument.find(root); at != std::string_view::npos;
         at = argument.find(root, at + 1)) {
        const std::size_t end = at + root.size();
        if (end == argument.size() || argument[end] == '/') {
            out.append(argument.substr(from, at - from));
            out += root_mark;
            from = end;
            at = end - 1;
        }
    }
    out.append(argument.substr(from));
    return out;
}

} // namespace search
