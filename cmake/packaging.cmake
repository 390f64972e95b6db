# Installs the manual page and the shell completions next to the binary, and configures CPack
# to build the Debian package pyrn_<version>_amd64.deb (`make package`).
include(GNUInstallDirs)

# Both are written by the build from the option table (source/CMakeLists.txt: pyrn_docs).
install(FILES ${PROJECT_BINARY_DIR}/docs/pyrn.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The completions go where each shell looks by default: bash-completion loads the file named
# after the command on demand, zsh's fpath holds site-functions, fish reads
# vendor_completions.d. The Debian package moves zsh's to Debian's vendor-completions.
install(FILES ${PROJECT_BINARY_DIR}/completions/pyrn.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME pyrn)
install(FILES ${PROJECT_BINARY_DIR}/completions/_pyrn
    DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/site-functions)
install(FILES ${PROJECT_BINARY_DIR}/completions/pyrn.fish
    DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pyrn)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "pyrn maintainers")
set(CPACK_PACKAGE_CONTACT "Seed 5da10e27 maintainers <maintainers@users.noreply.c-seed-5da10e27.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "find declarations, statements and expressions in C, C++ and CUDA trees")
# One string: several arguments to set() would make a list joined by semicolons.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "pyrn walks a directory tree, parses every C, C++ and CUDA source file that\n"
    "contains the query with libclang, and prints each matching function, class,\n"
    "struct, enum, typedef, variable, cast, throw expression or for statement with\n"
    "its file, its line range and its complete source text, coloured on a terminal.\n"
    "Files are searched in parallel.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Debian compresses manual pages and keeps zsh's completions elsewhere; `cmake --install`
# leaves both as they are.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/compress_man_pages.cmake
    ${CMAKE_CURRENT_LIST_DIR}/debian_zsh_completion.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Named explicitly rather than found by dpkg-shlibdeps, so that the list does not depend on
# the build machine's tools. The lower bounds are the newest symbol versions the binary needs
# (GLIBC_2.34, GLIBCXX_3.4.29 and CXXABI_1.3.13 of GCC 11, GCC_3.0). SQLite and xxHash hold
# the cursor cache (--cache), RE2 runs --regex, libgit2 (named by the version found, as Debian
# names its package) reads the ignore rules of --gitignore. fmt is taken as headers, and with
# the static runtime the C++ runtime and RE2 are in the binary.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
string(REGEX MATCH "^[0-9]+\\.[0-9]+" pyrn_libgit2_series "${libgit2_VERSION}")
set(pyrn_shared_runtime "libstdc++6 (>= 11), libgcc-s1 (>= 3.0), libre2-9, ")
if(pyrn_static_runtime)
    set(pyrn_shared_runtime "")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.34), ${pyrn_shared_runtime}libclang1-19, libsqlite3-0 (>= 3.37), libxxhash0 (>= 0.8), liblz4-1 (>= 1.9), libhiredis0.14, libsodium23, libgit2-${pyrn_libgit2_series}")

include(CPack)
