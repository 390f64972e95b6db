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

// The libclang arguments for one file and the name it is parsed under. From the database's
// entry for the file, or its stand-in's, when there is one; otherwise guessed: the settings'
// list (a header with the header form of its language), -I for the file's parent and
// grandparent directories and the system include directories. Both end in -ferror-limit=0.
// The list points into the object's own strings, so the object is neither copied nor moved.
struct file_arguments {
    file_arguments(std::string_view path, const std::vector<const char*>& options,
                   const compile_database* database = nullptr);
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
};

} // namespace search
