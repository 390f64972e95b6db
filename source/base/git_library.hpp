#pragma once

// libgit2, loaded on first use: only --gitignore needs it, and linked it would cost every run
// the loading of a dozen libraries (its TLS, SSH and Kerberos) before main.

#include <git2.h>

namespace search {

// The functions pyrn calls, each named once: git_NAME is loaded as the field NAME.
#define PYRN_GIT_FUNCTIONS(FUNCTION)                                                               \
    FUNCTION(libgit2_init)                                                                         \
    FUNCTION(libgit2_shutdown)                                                                     \
    FUNCTION(error_last)                                                                           \
    FUNCTION(buf_dispose)                                                                          \
    FUNCTION(repository_discover)                                                                  \
    FUNCTION(repository_open_ext)                                                                  \
    FUNCTION(repository_workdir)                                                                   \
    FUNCTION(repository_free)                                                                      \
    FUNCTION(repository_config_snapshot)                                                           \
    FUNCTION(config_get_path)                                                                      \
    FUNCTION(config_free)                                                                          \
    FUNCTION(ignore_path_is_ignored)

struct git_library {
#define PYRN_GIT_FIELD(name) decltype(&::git_##name) name;
    PYRN_GIT_FUNCTIONS(PYRN_GIT_FIELD)
#undef PYRN_GIT_FIELD
};

// The library's functions, loaded once; throws std::runtime_error, saying why, when it cannot be.
const git_library& libgit2();

} // namespace search
