#include "base/git_library.hpp"

#include <dlfcn.h>

#include <stdexcept>
#include <string>

namespace search {

namespace {

template <class Function> void load(void* library, const char* name, Function& slot) {
    slot = reinterpret_cast<Function>(dlsym(library, name));
    if (slot == nullptr) {
        throw std::runtime_error(std::string("libgit2 lacks ") + name);
    }
}

git_library load_library() {
    void* library = dlopen(PYRN_LIBGIT2_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = dlerror();
        throw std::runtime_error(why != nullptr ? why : "cannot load " PYRN_LIBGIT2_PATH);
    }
    git_library git{};
#define PYRN_GIT_LOAD(name) load(library, "git_" #name, git.name);
    PYRN_GIT_FUNCTIONS(PYRN_GIT_LOAD)
#undef PYRN_GIT_LOAD
    return git; // the library stays loaded for the rest of the process
}

} // namespace

const git_library& libgit2() {
    static const git_library loaded = load_library();
    return loaded;
}

} // namespace search
