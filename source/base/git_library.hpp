#pragma once

// libgit2, loaded on first use: only --gitignore needs it, and linked it would cost every run
// the loading of a dozen libraries (its TLS, SSH and Kerberos) before main.

#include <git2.h>

namespace search {

struct git_library {
    decltype(&::git_libgit2_init) libgit2_init;
    decltype(&::git_libgit2_shutdown) libgit2_shutdown;
    decltype(&::git_error_last) error_last;
    decltype(&::git_buf_dispose) buf_dispose;
    decltype(&::git_repository_discover) repository_discover;
    decltype(&::git_repository_open_ext) repository_open_ext;
    decltype(&::git_repository_workdir) repository_workdir;
    decltype(&::git_repository_free) repository_free;
    decltype(&::git_repository_config_snapshot) repository_config_snapshot;
    decltype(&::git_config_get_path) config_get_path;
    decltype(&::git_config_free) config_free;
    decltype(&::git_ignore_path_is_ignored) ignore_path_is_ignored;
};

// The library's functions, loaded once; throws std::runtime_error, saying why, when it cannot be.
const git_library& libgit2();

} // namespace search
