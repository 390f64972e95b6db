#pragma once

// The libclang arguments of one file's parse.

#include <string>
#include <string_view>
#include <vector>

namespace search {

class compile_database;

// The system's include directories as -I arguments: every guessed parse names them, and a
// missing include may appear in them.
inline constexpr const char* system_include_arguments[] = {"-I/usr/include",
                                                           "-I/usr/local/include"};

// CUDA is parsed for the host, without a CUDA installation: what the toolkit's headers would
// declare for a kernel, its attributes and its launch comes from a header that exists only in
// the parse, and clang's own built-in variables (threadIdx, ...).
inline constexpr const char* cuda_host_header_path = "/__pyrn__/cuda_host_1.h";
extern const std::string_view cuda_host_header;
inline constexpr const char* cuda_host_arguments[] = {"--cuda-host-only",
                                                      "-nocudainc",
                                                      "-nocudalib",
                                                      "-include",
                                                      "__clang_cuda_builtin_vars.h",
                                                      "-include",
                                                      cuda_host_header_path};

// The libclang arguments for one file and the name it is parsed under. From the database's
// entry for the file, or its stand-in's, when there is one; otherwise guessed: the settings'
// list (a header with the header form of its language), -I for the file's parent and
// grandparent directories and the system include directories. Both end in -ferror-limit=0.
// A .cu or .cuh file is parsed as CUDA for the host when cuda_by_suffix is set (the language
// was not chosen on the command line), and any CUDA parse takes cuda_host_arguments.
// The list points into the object's own strings, so the object is neither copied nor moved.
struct file_arguments {
    file_arguments(std::string_view path, const std::vector<const char*>& options,
                   const compile_database* database = nullptr, bool cuda_by_suffix = false);
    file_arguments(const file_arguments&) = delete;
    file_arguments& operator=(const file_arguments&) = delete;

    // Leaves out what clang does not take of the database's arguments, before a parse.
    void drop_unknown_options(const compile_database& database);

    // The path as given ("./" before one that begins with '-'), or absolute with the
    // database's arguments.
    std::string source;
    std::string language; // what the file is parsed as: c, c++, c++-header, cuda, ...
    std::string parent;
    std::string grandparent;
    std::vector<std::string> from_database;
    std::vector<const char*> list;

private:
    void point_at_database_arguments();
    void add_cuda_host_arguments();
};

} // namespace search
