#pragma once

#include <clang-c/Index.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace search {

class worker_pool;
class compile_database;
class cursor_cache;

// The visitor's client data: the searched file's path (NUL-terminated) and its bytes, an
// exception the visitor caught, which must not unwind through libclang, and whether a match
// was found.
struct file_context {
    std::string_view path;
    std::string_view content;
    std::exception_ptr failure;
    bool matched = false;
};

// How matches are written: blocks for a person, or one record per match (JSON Lines, grep's
// path:line:column:text) or per file (its path) for editors and scripts.
enum class output_format { blocks, json, vimgrep, files };

// One match as the writers see it; name is filled only for the JSON output.
struct match {
    std::string_view path;
    std::string_view snippet;
    std::string_view name;
    std::string_view kind_name;
    std::uint32_t start_line = 0;
    std::uint32_t end_line = 0;
    std::uint32_t column = 0;
};

// The libclang arguments for one file and the name it is parsed under. From the database's
// entry for the file, or its stand-in's, when there is one; otherwise guessed: the settings'
// list (a header with the header form of its language), -I for the file's parent and
// grandparent directories, the two system include directories and -ferror-limit=0. The list
// points into the object's own strings, so the object is neither copied nor moved.
struct file_arguments {
    file_arguments(std::string_view path, const std::vector<const char*>& options,
                   const compile_database* database = nullptr);
    file_arguments(const file_arguments&) = delete;
    file_arguments& operator=(const file_arguments&) = delete;

    // Leaves out what clang does not take of the database's arguments, before a parse.
    void drop_unknown_options(const compile_database& database);

    std::string source; // the path as given, or absolute with the database's arguments
    std::string parent;
    std::string grandparent;
    std::vector<std::string> from_database;
    std::vector<const char*> list;

private:
    void point_at_database_arguments();
};

// Reads a file whole; an empty string when it cannot be opened or read, is not a regular file
// or its size cannot be had or held. error tells why a file could not be opened or read.
std::string read_whole_file(const char* path, std::error_code& error);

// The body of one file task: reads the file and searches it. Failures are reported on
// standard error and end only this file's search.
void search_file_task(const std::string& path) noexcept;

// The entity's source text for a cursor extent: a view into content, or nothing when the
// extent does not lie in the searched file outside macro expansions.
bool cut_snippet(const CXSourceRange& extent, std::string_view content, std::string_view& snippet);

// True when the path ends in one of the ten C, C++ and CUDA source extensions.
bool has_source_extension(std::string_view path);

class searcher {
public:
    // Owner of the one thread pool; declared before clang_options so that it is destroyed last.
    static std::unique_ptr<worker_pool> pool;

    // Search settings: written once by the driver before any worker exists, then read-only.
    static std::string_view query;
    static std::string_view filter;
    static std::vector<const char*> clang_options;
    // The project's compilation database (-p), or nothing.
    static std::unique_ptr<compile_database> compile_commands;
    // The cursor cache (--cache), or nothing.
    static std::unique_ptr<cursor_cache> cache;
    static bool verbose;
    static bool exact_match;
    static bool ignore_case;
    static bool use_regex;
    static bool ignore_single_line_results;
    static bool use_color;
    static bool include_expressions;
    static output_format format;

    static bool search_for_enum;
    static bool search_for_struct;
    static bool search_for_union;
    static bool search_for_member_function;
    static bool search_for_function;
    static bool search_for_function_template;
    static bool search_for_class;
    static bool search_for_class_template;
    static bool search_for_class_constructor;
    static bool search_for_class_destructor;
    static bool search_for_typedef;
    static bool search_for_using_declaration;
    static bool search_for_namespace_alias;
    static bool search_for_variable_declaration;
    static bool search_for_parameter_declaration;
    static bool search_for_static_cast;
    static bool search_for_dynamic_cast;
    static bool search_for_reinterpret_cast;
    static bool search_for_const_cast;
    static bool search_for_throw_expression;
    static bool search_for_for_statement;

    // Walks the tree below search_path, posts one task per selected file and waits for all.
    static void directory_search(const char* search_path);

    // Pre-filters, parses and visits one file; path must be followed by a NUL byte.
    static void file_search(std::string_view path, std::string_view content);

    // libclang visitor: decides for one cursor whether it is a match and prints it.
    static CXChildVisitResult visit_cursor(CXCursor cursor, CXCursor parent,
                                           CXClientData data) noexcept;

    // Prints one match as one block with a single write.
    static void print_match(std::string_view path, std::uint32_t start_line, std::uint32_t end_line,
                            std::string_view snippet);

    // Writes one match in the chosen format, each record with a single write; the file list
    // only notes that the file matched.
    static void report_match(file_context& file, const match& found);

    // Ends a file's search: the file list prints the path of a file that matched.
    static void finish_file(const file_context& file);

    // Where the file search's messages go: standard output, unless it carries records.
    static std::FILE* message_stream();
};

} // namespace search
