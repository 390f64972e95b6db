#include "base/walk_filter.hpp"

#include "base/git_library.hpp"
#include "base/git_rules.hpp"
#include "base/messages.hpp"

#include <fnmatch.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace search {

namespace fs = std::filesystem;

namespace {

std::string git_error_text() {
    const git_error* error = libgit2().error_last();
    return error != nullptr && error->message != nullptr ? error->message : "unknown git error";
}

const char* name_in(const char* relative) {
    const char* slash = std::strrchr(relative, '/');
    return slash != nullptr ? slash + 1 : relative;
}

} // namespace

walk_filter::walk_filter(const std::vector<std::string>& texts) {
    for (const std::string& text : texts) {
        const bool folders_only = text.size() > 1 && text.back() == '/';
        patterns.push_back({folders_only ? text.substr(0, text.size() - 1) : text, folders_only});
    }
}

walk_filter::~walk_filter() {
    if (following_git) {
        libgit2().repository_free(repository);
        libgit2().libgit2_shutdown();
    }
}

void walk_filter::follow_gitignore(const std::string& root) {
    if (following_git) {
        return;
    }
    libgit2().libgit2_init();
    following_git = true;
    // Found without reading a file that could block; the files are judged before libgit2 opens
    // the repository.
    git_buf git_dir{};
    const int found = libgit2().repository_discover(&git_dir, root.c_str(), 0, nullptr);
    if (found == GIT_ENOTFOUND) {
        return; // as git: no repository, no ignore rules
    }
    if (found != 0) {
        throw std::runtime_error(git_error_text());
    }
    const std::string git_folder = git_dir.ptr;
    libgit2().buf_dispose(&git_dir);
    check_repository_files(git_folder);
    const int opened = libgit2().repository_open_ext(&repository, root.c_str(), 0, nullptr);
    if (opened == GIT_ENOTFOUND) {
        return;
    }
    if (opened != 0) {
        throw std::runtime_error(git_error_text());
    }
    const char* tree = libgit2().repository_workdir(repository);
    if (tree == nullptr) {
        return; // a bare repository has no working tree to ignore anything in
    }
    check_ignore_file(global_excludes(repository));
    // libgit2 takes paths below the working tree, which it names in its canonical form.
    fs::path top = fs::canonical(root);
    if (!fs::is_directory(top)) {
        top = top.parent_path();
    }
    const fs::path below = top.lexically_relative(fs::canonical(tree));
    if (!below.empty() && below != ".") {
        prefix = below.native() + "/";
    }
    this->root = root;
    workdir = tree;
    // The rules of every folder from the working tree down to root hold for all of root.
    fs::path folder = workdir;
    check_ignore_file((folder / ".gitignore").native());
    for (const fs::path& name : below) {
        if (name != ".") {
            folder /= name;
            check_ignore_file((folder / ".gitignore").native());
        }
    }
}

bool walk_filter::leaves_out(const char* relative, bool is_directory) {
    const char* name = name_in(relative);
    for (const pattern& p : patterns) {
        if ((is_directory || !p.folders_only) &&
            (fnmatch(p.text.c_str(), name, 0) == 0 || fnmatch(p.text.c_str(), relative, 0) == 0)) {
            return true;
        }
    }
    return repository != nullptr && (is_ignored_by_git(relative, is_directory) ||
                                     (is_directory && has_unusable_rules(relative)));
}

// libgit2 reads a folder's .gitignore for every path below it: the folder's rules are judged
// before the walk enters it.
bool walk_filter::has_unusable_rules(const char* relative) {
    if (refused.count(relative) != 0) {
        return true;
    }
    const std::string problem = ignore_file_problem(workdir + prefix + relative + "/.gitignore");
    if (problem.empty()) {
        return false;
    }
    refused.insert(relative);
    const std::string shown = (fs::path(root) / relative / ".gitignore").native();
    report(shown, problem + "; the folder is left out");
    return true;
}

bool walk_filter::is_ignored_by_git(const char* relative, bool is_directory) {
    if (std::strcmp(name_in(relative), ".git") == 0) {
        return true; // the repository itself, or a submodule's link to it
    }
    git_path.assign(prefix).append(relative);
    if (is_directory) {
        git_path += '/'; // so that a pattern for folders ("build/") applies
    }
    int ignored = 0;
    // A path that libgit2 cannot judge stays in the walk.
    return libgit2().ignore_path_is_ignored(&ignored, repository, git_path.c_str()) == 0 &&
           ignored == 1;
}

} // namespace search
