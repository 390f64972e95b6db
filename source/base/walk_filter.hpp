#pragma once

// What the walks of the tree leave out: the entries that an exclude pattern names, and what
// git ignores.

#include <string>
#include <unordered_set>
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
    // std::runtime_error when the repository cannot be opened, or when a file of rules that
    // holds for the whole root (the repository's config and the files it includes,
    // .git/info/exclude, core.excludesFile, the .gitignore files down to root) is not a regular
    // file, whose reading would block, or holds a pattern too costly to match.
    void follow_gitignore(const std::string& root);

    // Whether the walk leaves out the entry whose path below the root is relative (no leading
    // '/'), and does not enter it. Following git, a folder whose .gitignore is not a regular file
    // or holds a pattern too costly to match is left out too, after one line that says why.
    bool leaves_out(const char* relative, bool is_directory);

private:
    bool is_ignored_by_git(const char* relative, bool is_directory);
    bool has_unusable_rules(const char* relative);

    struct pattern {
        std::string text;
        bool folders_only;
    };
    std::vector<pattern> patterns;
    bool following_git = false;
    git_repository* repository = nullptr;
    std::string prefix;   // the root's path below the repository's working tree, with a '/'
    std::string git_path; // the path handed to libgit2, kept for its capacity
    std::string root;     // as given, for the paths of messages
    std::string workdir;  // the working tree, with a '/'
    std::unordered_set<std::string> refused; // the folders left out for their rules
};

} // namespace search
