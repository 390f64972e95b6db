#pragma once

// What the walks of the tree leave out: the entries that an exclude pattern names, and what
// git ignores.

#include <string>
#include <vector>

struct git_repository;

namespace search {

class walk_filter {
public:
    // Each pattern is matched as by fnmatch without flags ('*' matches '/' too) against an
    // entry's name and against its path below the root; one that ends in '/' matches folders
    // only.
    explicit walk_filter(const std::vector<std::string>& patterns);
    ~walk_filter();
    walk_filter(const walk_filter&) = delete;
    walk_filter& operator=(const walk_filter&) = delete;

    // From now on also leaves out what the ignore rules of the git repository that holds root
    // ignore, and the repository's .git folders; outside a repository nothing more. Throws
    // std::runtime_error when the repository cannot be opened.
    void follow_gitignore(const std::string& root);

    // Whether the walk leaves out the entry whose path below the root is relative (no leading
    // '/'), and does not enter it.
    bool leaves_out(const char* relative, bool is_directory);

private:
    bool is_ignored_by_git(const char* relative, bool is_directory);

    struct pattern {
        std::string text;
        bool folders_only;
    };
    std::vector<pattern> patterns;
    bool following_git = false;
    git_repository* repository = nullptr;
    std::string prefix;   // the root's path below the repository's working tree, with a '/'
    std::string git_path; // the path handed to libgit2, kept for its capacity
};

} // namespace search
