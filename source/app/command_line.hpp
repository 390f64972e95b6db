#pragma once

#include "base/tree_walk.hpp"
#include "core/kind_choice.hpp"
#include "core/search_types.hpp"
#include "search/searcher.hpp"

#include <argparse/argparse.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pyrn {

inline constexpr const char* version = "0.6.0";

// Adds the arguments of pyrn's command line, the options from their table (option_table.hpp),
// in the order of the help listing.
void configure_parser(argparse::ArgumentParser& parser);

// The command line as argparse can read it. argparse knows neither "--" nor an option that
// reads as a negative number: "-0" is handed over as "--null", and each word after "--" as a
// placeholder in its positional place, the word itself kept in after_options.
struct command_words {
    std::vector<std::string> for_parser; // the program's name first
    std::vector<std::string> after_options;
};
command_words split_command_line(int argc, char** argv);

// The words after "--" in the last positional places: the path, and the query before it.
void take_words_after_options(const command_words& words, std::string& query, std::string& path);

// The output format chosen by --json, --vimgrep or --files-with-matches (at most one).
search::output_format chosen_format(const argparse::ArgumentParser& parser);

// The value of an option that takes one, or an empty string when it is not given.
std::string value_of(const argparse::ArgumentParser& parser, std::string_view name);

// Whether matches are coloured (--color, --nc, a terminal). Sets error for a value that is
// not always, never or auto, and for --color given with --nc.
bool choose_colour(const argparse::ArgumentParser& parser, bool stdout_is_terminal,
                   std::string& error);

// Sets error when --sort is given another key than path.
void check_sort_key(const argparse::ArgumentParser& parser, std::string& error);

// The kinds chosen by the parsed kind options: no kind option means every kind; otherwise each
// kind its own option or its group's. --include-expressions adds the expression group.
search::kind_choice chosen_kinds(const argparse::ArgumentParser& parser);

// "-I" arguments for every directory below root (never root itself) whose name ends in
// "include", in walk order; none when root is a file. Throws
// std::filesystem::filesystem_error when root or a directory of the tree cannot be opened.
std::vector<std::string> discover_include_dirs(const std::string& root);
// The same with the walk's options given.
std::vector<std::string> discover_include_dirs(const std::string& root,
                                               const search::walk_options& options);

// The project around a search path, whose include directories a search of any folder of it
// takes: the nearest folder above the path that holds .git or compile_commands.json. When the
// path lies below the working directory, only the folders up to there are asked, and the
// working directory is the project when none is and it holds either or a build file
// (CMakeLists.txt, Makefile, configure, ...). Nothing for the working directory itself, a
// folder above it, or a folder that holds .git or compile_commands.json itself. Spelled
// relative to the working directory when below it, else absolute.
std::optional<std::string> project_around(const std::string& path);

// Throws std::filesystem::filesystem_error when path is neither a regular file nor a folder
// that can be read.
void check_search_path(const std::string& path);

// The "-I" option of a folder: the one place that spells it.
std::string include_option(std::string_view dir);

// The "-I" options of --include-dir; with absolute, each folder made absolute, as a -p parse
// runs in its entry's directory.
std::vector<std::string> include_options(const std::vector<std::string>& dirs, bool absolute);

// The "-I" arguments of the include directories that a search of path takes: those of the
// project around it (never the path itself) when there is one, else those below the path.
// With listed, a walk below the path lists there the files the search takes too.
std::vector<std::string> include_dirs_for(const std::string& path,
                                          std::optional<search::tree_listing>* listed = nullptr);

// The leading libclang arguments: "-x", the language, "-std=..." for c++ only, then the
// "-I" arguments. The pointers borrow the given strings.
std::vector<const char*> build_clang_options(const std::string& language,
                                             const std::string& std_argument,
                                             const std::vector<std::string>& include_arguments);

// The whole program: parses the command line, fills the settings and runs the search.
int run(int argc, char** argv);

} // namespace pyrn
