#include "base/git_library.hpp"

#include "base/shared_library.hpp"

namespace search {

namespace {

git_library load_git() {
    void* library = load_library(PYRN_LIBGIT2_PATH);
    git_library git{};
#define PYRN_GIT_LOAD(name) load_function(library, "libgit2", "git_" #name, git.name);
    PYRN_GIT_FUNCTIONS(PYRN_GIT_LOAD)
#undef PYRN_GIT_LOAD
    return git; // the library stays loaded for the rest of the process
}

} // namespace

const git_library& libgit2() {
    static const git_library loaded = load_git();
    return loaded;
}

} // namespace search
