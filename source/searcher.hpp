#pragma once

#include <clang-c/Index.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace search {

class worker_pool;

// The visitor's client data: the searched file's path (NUL-terminated) and its bytes.
struct file_context {
    std::string_view path;
    std::string_view content;
};

// Reads a file whole; an empty string when it cannot be opened or its size cannot be had.
std::string read_whole_file(const char* path);

// The body of one file task: reads the file and searches it. Never throws.
void search_file_task(const std::string& path);

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
    static bool verbose;
    static bool exact_match;
    static bool ignore_single_line_results;
    static bool use_color;
    static bool include_expressions;

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
    static CXChildVisitResult visit_cursor(CXCursor cursor, CXCursor parent, CXClientData data);

    // Prints one match as one block with a single write.
    static void print_match(std::string_view path, std::uint32_t start_line, std::uint32_t end_line,
                            std::string_view snippet);
};

} // namespace search
