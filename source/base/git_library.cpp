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
    load(library, "git_libgit2_init", git.libgit2_init);
    load(library, "git_libgit2_shutdown", git.libgit2_shutdown);
    load(library, "git_error_last", git.error_last);
    load(library, "git_buf_dispose", git.buf_dispose);
    load(library, "git_repository_discover", git.repository_discover);
    load(library, "git_repository_open_ext", git.repository_open_ext);
    load(library, "git_repository_workdir", git.repository_workdir);
    load(library, "git_repository_free", git.repository_free);
    load(library, "git_repository_config_snapshot", git.repository_config_snapshot);
    load(library, "git_config_get_path", git.config_get_path);
    load(library, "git_config_free", git.config_free);
    load(library, "git_ignore_path_is_ignored", git.ignore_path_is_ignored);
    return git; // the library stays loaded for the rest of the process
}

} // namespace

const git_library& libgit2() {
    static const git_library loaded = load_library();
    return loaded;
}

} // namespace search
