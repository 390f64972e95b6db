# Every missing dependency stops the configure step with one line naming the Debian package.
function(pyrn_require found package what)
    if(NOT ${found})
        message(FATAL_ERROR "pyrn: ${what} not found: install the Debian package ${package} (or run scripts/install-deps)")
    endif()
endfunction()

find_package(fmt 9 QUIET)
pyrn_require(fmt_FOUND libfmt-dev "fmt")
if(fmt_VERSION VERSION_GREATER_EQUAL 13)
    message(FATAL_ERROR "pyrn: fmt ${fmt_VERSION} is newer than the supported 9 to 12: install libfmt-dev")
endif()

find_package(argparse 3 CONFIG QUIET)
pyrn_require(argparse_FOUND libargparse-dev "argparse 3")

find_package(nlohmann_json 3 CONFIG QUIET)
pyrn_require(nlohmann_json_FOUND nlohmann-json3-dev "nlohmann-json 3")

find_package(SQLite3 QUIET)
pyrn_require(SQLite3_FOUND libsqlite3-dev "SQLite 3")

find_package(PkgConfig QUIET)
pyrn_require(PkgConfig_FOUND pkg-config "pkg-config")
pkg_check_modules(xxhash QUIET IMPORTED_TARGET libxxhash)
pyrn_require(xxhash_FOUND libxxhash-dev "xxHash")
pkg_check_modules(lz4 QUIET IMPORTED_TARGET liblz4)
pyrn_require(lz4_FOUND liblz4-dev "LZ4")
pkg_check_modules(re2 QUIET IMPORTED_TARGET re2)
pyrn_require(re2_FOUND libre2-dev "RE2")
if(pyrn_static_runtime)
    find_library(pyrn_re2_archive NAMES libre2.a HINTS ${re2_LIBRARY_DIRS})
    pyrn_require(pyrn_re2_archive libre2-dev "RE2's static library")
endif()
pkg_check_modules(hiredis QUIET IMPORTED_TARGET hiredis)
pyrn_require(hiredis_FOUND libhiredis-dev "hiredis")
pkg_check_modules(libsodium QUIET IMPORTED_TARGET libsodium)
pyrn_require(libsodium_FOUND libsodium-dev "libsodium")
pkg_check_modules(libgit2 QUIET IMPORTED_TARGET libgit2>=1.1)
pyrn_require(libgit2_FOUND libgit2-dev "libgit2")

find_path(PYRN_CLANG_INCLUDE_DIR clang-c/Index.h
    PATHS "${PYRN_LLVM_PREFIX}/include" NO_DEFAULT_PATH)
find_library(PYRN_CLANG_LIBRARY NAMES clang clang-19
    PATHS "${PYRN_LLVM_PREFIX}/lib" NO_DEFAULT_PATH)
if(NOT PYRN_CLANG_INCLUDE_DIR OR NOT PYRN_CLANG_LIBRARY)
    message(FATAL_ERROR "pyrn: libclang not found under ${PYRN_LLVM_PREFIX}: install the Debian package libclang-19-dev (or set PYRN_LLVM_PREFIX)")
endif()
add_library(pyrn::libclang UNKNOWN IMPORTED)
set_target_properties(pyrn::libclang PROPERTIES
    IMPORTED_LOCATION "${PYRN_CLANG_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${PYRN_CLANG_INCLUDE_DIR}")

find_package(Threads REQUIRED)

if(PYRN_TESTS)
    find_package(GTest QUIET)
    pyrn_require(GTest_FOUND libgtest-dev "GoogleTest")
endif()
if(PYRN_BENCHMARKS)
    find_package(benchmark QUIET)
    pyrn_require(benchmark_FOUND libbenchmark-dev "Google Benchmark")
endif()
