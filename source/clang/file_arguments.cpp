#include "clang/file_arguments.hpp"

#include "base/paths.hpp"
#include "core/source_files.hpp"
#include "clang/compile_database.hpp"

#include <cstring>
#include <filesystem>
#include <iterator>

namespace search {

namespace {

// At the 21st error clang raises a fatal error that KeepGoing does not lift: from then on it
// instantiates no templates, so references further down lose their names.
constexpr const char* no_error_limit = "-ferror-limit=0";

// libclang puts the file's name among the arguments, where "-dir/a.cpp" would read as options.
std::string parse_name(std::string_view path) {
    return path.empty() || path[0] != '-' ? std::string(path) : "./" + std::string(path);
}

} // namespace

const std::string_view cuda_host_header =
    "#ifndef __host__\n#define __host__ __attribute__((host))\n#endif\n"
    "#ifndef __device__\n#define __device__ __attribute__((device))\n#endif\n"
    "#ifndef __global__\n#define __global__ __attribute__((global))\n#endif\n"
    "#ifndef __shared__\n#define __shared__ __attribute__((shared))\n#endif\n"
    "#ifndef __constant__\n#define __constant__ __attribute__((constant))\n#endif\n"
    "#ifndef __managed__\n#define __managed__ __attribute__((managed))\n#endif\n"
    "#ifndef __launch_bounds__\n"
    "#define __launch_bounds__(...) __attribute__((launch_bounds(__VA_ARGS__)))\n#endif\n"
    "#ifndef __forceinline__\n#define __forceinline__ __inline__ __attribute__((always_inline))\n"
    "#endif\n"
    // A launch calls this with its configuration; a template stays out of the way of the
    // toolkit's own declaration, should the file include it.
    "template <class... Configuration> int __cudaPushCallConfiguration(Configuration...);\n";

file_arguments::file_arguments(std::string_view path, const std::vector<const char*>& options,
                               const compile_database* database, bool cuda_by_suffix)
    : source(parse_name(path)) {
    if (database != nullptr) {
        std::string absolute = absolute_in("", source);
        from_database = database->arguments_for(absolute);
        if (!from_database.empty()) {
            source = std::move(absolute);
            language = language_of(from_database, source);
            point_at_database_arguments();
            return;
        }
    }
    // Textual parents: no file system access, "./a.cpp" gives "." and "".
    const std::filesystem::path parent_dir = std::filesystem::path(path).parent_path();
    parent = "-I" + parent_dir.native();
    grandparent = "-I" + parent_dir.parent_path().native();
    list.reserve(options.size() + 5);
    list.assign(options.begin(), options.end());
    // In a header parsed as a source file, clang ignores #pragma once: a header that reaches
    // itself through an include cycle is read twice and its declarations land in the copy.
    if (list.size() >= 2 && std::strcmp(list[0], "-x") == 0 && is_header_path(path)) {
        list[1] = header_language(list[1]).data(); // a literal, or list[1] itself
    }
    if (cuda_by_suffix && list.size() >= 2 && std::strcmp(list[0], "-x") == 0 &&
        language_of_suffix(path, false) == "cuda") {
        list[1] = "cuda";
    }
    language = list.size() >= 2 && std::strcmp(list[0], "-x") == 0
                   ? list[1]
                   : std::string(language_of_suffix(path, false));
    list.push_back(parent.c_str());
    list.push_back(grandparent.c_str());
    for (const char* argument : system_include_arguments) {
        list.push_back(argument);
    }
    add_cuda_host_arguments();
    list.push_back(no_error_limit);
}

void file_arguments::add_cuda_host_arguments() {
    if (language == "cuda") {
        list.insert(list.end(), std::begin(cuda_host_arguments), std::end(cuda_host_arguments));
    }
}

void file_arguments::drop_unknown_options(const compile_database& database) {
    if (!from_database.empty()) {
        from_database = database.without_unknown_options(from_database, source);
        point_at_database_arguments();
    }
}

void file_arguments::point_at_database_arguments() {
    list.clear();
    for (const std::string& argument : from_database) {
        list.push_back(argument.c_str());
    }
    add_cuda_host_arguments();
    list.push_back(no_error_limit);
}

} // namespace search
