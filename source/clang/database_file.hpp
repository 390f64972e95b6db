#pragma once

// A compile_commands.json read as clang's JSON compilation database reads it, but by this
// program alone: the database comes with the repository being searched, and clang's reader
// would expand each "@file" argument, reading any file the database names. Here no argument
// is expanded and nothing but the database file itself is read.

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace search {

// A database that cannot be used; what() reads "<path>: <reason>".
class database_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One entry as the file gives it: its directory and file as written there, and all its
// arguments, the compiler first.
struct database_entry {
    std::string directory;
    std::string file;
    std::vector<std::string> arguments;
};

// The bytes of the database file. Only a regular file is read, opened without blocking (a
// FIFO or a device would hang the search or never end). Throws database_error.
std::string read_database_file(const std::string& file);

// The entries of the database file whose bytes are content. Throws database_error with
// clang's reason for a database that is no list of entries ("Expected array.", "Missing key:
// \"file\".", ...) or the place of a JSON syntax error.
std::vector<database_entry> parse_database(const std::string& file, std::string_view content);

// The arguments of an entry's "command" string, split as clang splits it: at spaces outside
// quotes, with backslash escapes outside single quotes.
std::vector<std::string> split_command(std::string_view command);

// The driver mode that clang gives a compiler by its name, "--driver-mode=g++" for g++ or
// x86_64-linux-gnu-c++-12, say; empty for one it gives none.
std::string_view driver_mode_of(std::string_view program);

} // namespace search
