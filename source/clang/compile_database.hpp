#pragma once

// The commands of the project's compile_commands.json (clang/database_file.hpp reads it) and the
// arguments they give each file: its own entry's, or those of the entry that best stands for it
// (the source of a header, else the nearest entry of the tree).

#include "clang/database_file.hpp"

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace search {

// One entry: its directory, its file (absolute) and the options of its arguments that a parse
// takes (clang/entry_options.hpp): no compiler name, no source file, nothing else.
struct compile_command {
    std::string directory;
    std::string file;
    std::vector<std::string> arguments;
    std::string language; // the language its file is compiled as (c, c++, cuda, ...)
};

// What a database's entries come to: the commands of those whose directory exists, and the
// directories that did not, whose appearance would change them.
struct database_commands {
    std::vector<compile_command> commands;
    std::vector<std::string> absent_directories;
};

// The language that arguments compile file as: the last -x among them, else the suffix's.
std::string language_of(const std::vector<std::string>& arguments, std::string_view file);

class compile_database {
public:
    // The compile_commands.json that path names: path itself, or the one in the build
    // directory path. Throws database_error when it is missing or unreadable.
    static std::string file_of(const std::string& path);

    // The commands of the entries read from file: absolute paths, and of the arguments only
    // those that a parse takes; verbose says which were left out.
    static database_commands commands_of(const std::string& file,
                                         std::vector<database_entry> entries, bool verbose);

    // The database of those commands. include_arguments are the command line's "-I" options
    // (absolute), added after an entry's; verbose says which options clang does not take.
    static std::unique_ptr<compile_database>
    from_commands(std::vector<compile_command> commands, std::vector<std::string> include_arguments,
                  bool verbose);

    // The libclang arguments for a file (absolute and normal): its entry's, or its stand-in's
    // with the language switched to the file's; empty when no entry lies near the file.
    std::vector<std::string> arguments_for(const std::string& file) const;

    // The arguments without the options that clang does not take (GCC's own, say), which
    // would only add an error per file, or make libclang refuse the file; found once per list
    // by parses of an empty file, and removed by position, each option with its value.
    std::vector<std::string> without_unknown_options(const std::vector<std::string>& arguments,
                                                     const std::string& file) const;

private:
    std::vector<compile_command> commands;
    std::vector<std::string> include_arguments;
    bool verbose = false;
    std::unordered_map<std::string, std::size_t> by_file;
    std::unordered_map<std::string, std::size_t> by_stem; // "dir/stem" of every entry
    std::unordered_map<std::string, std::size_t> by_dir;  // every ancestor of every entry

    // For each argument list (and language), whether clang refuses each argument.
    mutable std::mutex unknown_lock;
    mutable std::unordered_map<std::string, std::vector<char>> unknown_by_list;
    mutable std::unordered_set<std::string> said_refused; // each line of --verbose once

    void index(std::size_t at);
    void say_refused(const std::vector<std::string>& arguments,
                     const std::vector<char>& refused) const;
    // The entry used for a file, or nullptr; stand_in tells whether it is another file's.
    const compile_command* entry_for(const std::string& file, bool& stand_in) const;
};

} // namespace search
