#include "base/walk_filter.hpp"

#include <fnmatch.h>
#include <git2.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace search {

namespace fs = std::filesystem;

namespace {

std::string git_error_text() {
    const git_error* error = git_error_last();
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
        git_repository_free(repository);
        git_libgit2_shutdown();
    }
}

void walk_filter::follow_gitignore(const std::string& root) {
    if (following_git) {
        return;
    }
    git_libgit2_init();
    following_git = true;
    const int opened = git_repository_open_ext(&repository, root.c_str(), 0, nullptr);
    if (opened == GIT_ENOTFOUND) {
        return; // as git: no repository, no ignore rules
    }
    if (opened != 0) {
        throw std::runtime_error(git_error_text());
    }
    const char* workdir = git_repository_workdir(repository);
    if (workdir == nullptr) {
        return; // a bare repository has no working tree to ignore anything in
    }
    // libgit2 takes paths below the working tree, which it names in its canonical form.
    const fs::path below = fs::canonical(root).lexically_relative(fs::canonical(workdir));
    if (!below.empty() && below != ".") {
        prefix = below.native() + "/";
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
    return repository != nullptr && is_ignored_by_git(relative, is_directory);
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
    return git_ignore_path_is_ignored(&ignored, repository, git_path.c_str()) == 0 && ignored == 1;
}

} // namespace search
