#include "searcher.hpp"
#include "sse2_strstr.hpp"

#include <fmt/format.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <type_traits>

namespace search {

namespace {

// KeepGoing: go on after fatal errors such as a missing include. IgnoreNonErrorsFromIncludedFiles:
// no warnings from headers.
constexpr unsigned parse_flags =
    CXTranslationUnit_KeepGoing | CXTranslationUnit_IgnoreNonErrorsFromIncludedFiles;
static_assert(parse_flags == 0x4200);

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

struct index_disposer {
    void operator()(void* index) const { clang_disposeIndex(index); }
};
using index_handle = std::unique_ptr<void, index_disposer>;

struct unit_disposer {
    void operator()(CXTranslationUnit unit) const { clang_disposeTranslationUnit(unit); }
};
using unit_handle = std::unique_ptr<std::remove_pointer_t<CXTranslationUnit>, unit_disposer>;

// A cursor's spelling, released when it goes; a spelling without text reads as empty.
class spelling {
public:
    explicit spelling(CXCursor cursor) : string(clang_getCursorSpelling(cursor)) {}
    ~spelling() { clang_disposeString(string); }
    spelling(const spelling&) = delete;
    spelling& operator=(const spelling&) = delete;

    std::string_view text() const {
        const char* chars = clang_getCString(string);
        return chars != nullptr ? chars : "";
    }

private:
    CXString string;
};

// The size of an opened regular file, or -1. A directory or a device can be opened too, but
// its "size" is no byte count.
long regular_file_size(std::FILE* file) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        return -1;
    }
    if (std::fseek(file, 0, SEEK_END) != 0) {
        return -1;
    }
    return std::ftell(file);
}

bool can_open(const char* path) {
    return file_handle(std::fopen(path, "rb")) != nullptr;
}

[[noreturn]] void quit_on_parse_failure(std::string_view path) noexcept {
    try {
        fmt::print(stdout, "Error: Unable to parse translation unit {}. Quitting.\n", path);
    } catch (...) {
        // Ending the process is all that is left to do.
    }
    // Static destructors would wait for this task, which never returns.
    std::fflush(stdout);
    std::_Exit(255);
}

void report_failure(std::string_view path, const char* reason) noexcept {
    try {
        fmt::print(stderr, "pyrn: {}: {}\n", path, reason);
    } catch (...) {
        // Standard error is gone as well; the search goes on regardless.
    }
}

bool is_expression_kind(CXCursorKind kind) {
    return kind == CXCursor_FieldDecl || kind == CXCursor_MemberRef ||
           kind == CXCursor_DeclRefExpr || kind == CXCursor_MemberRefExpr;
}

bool is_enabled_kind(CXCursorKind kind) {
    switch (kind) {
    case CXCursor_FieldDecl:
    case CXCursor_MemberRef:
    case CXCursor_DeclRefExpr:
    case CXCursor_MemberRefExpr:
        return searcher::include_expressions;
    case CXCursor_EnumDecl:
        return searcher::search_for_enum;
    case CXCursor_StructDecl:
        return searcher::search_for_struct;
    case CXCursor_UnionDecl:
        return searcher::search_for_union;
    case CXCursor_CXXMethod:
        return searcher::search_for_member_function;
    case CXCursor_FunctionDecl:
        return searcher::search_for_function;
    case CXCursor_FunctionTemplate:
        return searcher::search_for_function_template;
    case CXCursor_ClassDecl:
        return searcher::search_for_class;
    case CXCursor_ClassTemplate:
        return searcher::search_for_class_template;
    case CXCursor_Constructor:
        return searcher::search_for_class_constructor;
    case CXCursor_Destructor:
        return searcher::search_for_class_destructor;
    case CXCursor_TypedefDecl:
        return searcher::search_for_typedef;
    case CXCursor_UsingDirective:
    case CXCursor_UsingDeclaration:
    case CXCursor_TypeAliasDecl:
        return searcher::search_for_using_declaration;
    case CXCursor_NamespaceAlias:
        return searcher::search_for_namespace_alias;
    case CXCursor_VarDecl:
        return searcher::search_for_variable_declaration;
    case CXCursor_ParmDecl:
        return searcher::search_for_parameter_declaration;
    case CXCursor_CXXStaticCastExpr:
        return searcher::search_for_static_cast;
    case CXCursor_CXXDynamicCastExpr:
        return searcher::search_for_dynamic_cast;
    case CXCursor_CXXReinterpretCastExpr:
        return searcher::search_for_reinterpret_cast;
    case CXCursor_CXXConstCastExpr:
        return searcher::search_for_const_cast;
    case CXCursor_CXXThrowExpr:
        return searcher::search_for_throw_expression;
    case CXCursor_ForStmt:
    case CXCursor_CXXForRangeStmt:
        return searcher::search_for_for_statement;
    default:
        return false;
    }
}

// Any of these kinds makes every cursor face the text test instead of the name test.
bool text_test_enabled() {
    return searcher::search_for_throw_expression || searcher::search_for_typedef ||
           searcher::search_for_static_cast || searcher::search_for_dynamic_cast ||
           searcher::search_for_reinterpret_cast || searcher::search_for_const_cast ||
           searcher::search_for_for_statement;
}

bool passes_line_rule(unsigned start_line, unsigned end_line) {
    return searcher::ignore_single_line_results ? end_line > start_line : end_line >= start_line;
}

// The spelling is fetched only when the name test is made.
bool passes_name_test(CXCursor cursor, bool expression) {
    const std::string_view query = searcher::query;
    if (query.empty() || text_test_enabled()) {
        return true;
    }
    const spelling name(cursor);
    if (searcher::exact_match) {
        return !expression && name.text() == query;
    }
    return name.text().find(query) != std::string_view::npos;
}

bool passes_text_test(std::string_view snippet) {
    const std::string_view query = searcher::query;
    return query.empty() || !text_test_enabled() || snippet.find(query) != std::string_view::npos;
}

// The line holding offset start, without its leading blanks and its line feed.
std::string_view source_line(std::string_view content, std::size_t start) {
    const std::size_t feed = content.rfind('\n', start);
    std::size_t begin = feed == std::string_view::npos ? 0 : feed + 1;
    while (begin < content.size() && (content[begin] == ' ' || content[begin] == '\t')) {
        ++begin;
    }
    std::size_t end = content.find('\n', start);
    if (end == std::string_view::npos) {
        end = content.size();
    }
    return content.substr(begin, end - begin);
}

CXChildVisitResult match_cursor(CXCursor cursor, const file_context& context) {
    if (!is_enabled_kind(cursor.kind)) {
        return CXChildVisit_Recurse;
    }
    const bool expression = is_expression_kind(cursor.kind);
    const CXSourceRange extent = clang_getCursorExtent(cursor);
    const CXSourceLocation begin = clang_getRangeStart(extent);
    const CXSourceLocation end = clang_getRangeEnd(extent);
    unsigned start_line = 0;
    unsigned end_line = 0;
    clang_getExpansionLocation(begin, nullptr, &start_line, nullptr, nullptr);
    clang_getExpansionLocation(end, nullptr, &end_line, nullptr, nullptr);
    if (!passes_line_rule(start_line, end_line) || !passes_name_test(cursor, expression)) {
        return CXChildVisit_Recurse;
    }
    const std::string_view content = context.content;
    // Offsets of the main file start at 2 in the raw encoding; anything else lies beyond.
    const std::uint32_t start = extent.begin_int_data - 2u;
    if (start >= content.size()) {
        return CXChildVisit_Recurse;
    }
    std::string_view snippet;
    if (searcher::include_expressions && expression) {
        snippet = source_line(content, start);
    } else if (!cut_snippet(extent, content, snippet)) {
        return CXChildVisit_Recurse;
    }
    if (!passes_text_test(snippet)) {
        return CXChildVisit_Continue;
    }
    searcher::print_match(context.path, start_line, end_line, snippet);
    return CXChildVisit_Recurse;
}

} // namespace

file_arguments::file_arguments(std::string_view path, const std::vector<const char*>& options) {
    // Textual parents: no file system access, "./a.cpp" gives "." and "".
    const std::filesystem::path parent_dir = std::filesystem::path(path).parent_path();
    parent = "-I" + parent_dir.native();
    grandparent = "-I" + parent_dir.parent_path().native();
    list.reserve(options.size() + 5);
    list.assign(options.begin(), options.end());
    list.push_back(parent.c_str());
    list.push_back(grandparent.c_str());
    list.push_back("-I/usr/include");
    list.push_back("-I/usr/local/include");
    // At the 21st error clang raises a fatal error that KeepGoing does not lift: from then on
    // it instantiates no templates, so references further down lose their names.
    list.push_back("-ferror-limit=0");
}

std::string read_whole_file(const char* path, std::error_code& error) {
    error.clear();
    const file_handle file(std::fopen(path, "rb"));
    if (!file) {
        error.assign(errno, std::system_category());
        return {};
    }
    const long size = regular_file_size(file.get());
    std::string content;
    if (size <= 0 || static_cast<unsigned long>(size) > content.max_size()) {
        return content;
    }
    content.resize(static_cast<std::size_t>(size));
    std::rewind(file.get());
    const std::size_t got = std::fread(content.data(), 1, content.size(), file.get());
    if (std::ferror(file.get())) {
        error.assign(errno, std::system_category());
        return {};
    }
    // A file cut short while it was read is searched as far as it was read.
    content.resize(got);
    return content;
}

void search_file_task(const std::string& path) noexcept {
    try {
        std::error_code error;
        const std::string content = read_whole_file(path.c_str(), error);
        // A file that vanished since the walk found it is no longer part of the tree.
        if (error && error != std::errc::no_such_file_or_directory) {
            report_failure(path, error.message().c_str());
        }
        searcher::file_search(path, content);
    } catch (const std::exception& error) {
        report_failure(path, error.what());
    } catch (...) {
        report_failure(path, "unknown error");
    }
}

bool cut_snippet(const CXSourceRange& extent, std::string_view content, std::string_view& snippet) {
    const std::uint32_t start = extent.begin_int_data - 2u;
    const std::uint32_t length = extent.end_int_data - extent.begin_int_data;
    // An end past the content lies in a macro argument or another file: the raw offsets
    // do not measure the entity's text then.
    if (start >= content.size() || length > content.size() - start) {
        return false;
    }
    snippet = content.substr(start, length);
    return true;
}

void searcher::file_search(std::string_view path, std::string_view content) {
    if (content.empty()) {
        return;
    }
    const std::size_t found = sse2_strstr(content, query);
    if (found == npos || found == content.size()) {
        return;
    }
    if (verbose) {
        fmt::print(stdout, "Checking {}\n", path);
    }
    const file_arguments arguments(path, clang_options);
    // Declared in this order so that the unit is disposed of before the index.
    const index_handle index(clang_createIndex(0, verbose ? 1 : 0));
    const unit_handle unit(clang_parseTranslationUnit(
        index.get(), path.data(), arguments.list.data(), static_cast<int>(arguments.list.size()),
        nullptr, 0, parse_flags));
    if (!unit) {
        if (!can_open(path.data())) {
            return; // gone since it was read: skipped like any file that cannot be opened
        }
        quit_on_parse_failure(path);
    }
    file_context context{path, content, nullptr};
    const CXCursor root = clang_getTranslationUnitCursor(unit.get());
    if (clang_visitChildren(root, &searcher::visit_cursor, &context) != 0) {
        if (context.failure) {
            std::rethrow_exception(context.failure);
        }
        fmt::print(stdout, "Error: Visit children failed for {}\n", path);
    }
}

CXChildVisitResult searcher::visit_cursor(CXCursor cursor, CXCursor, CXClientData data) noexcept {
    auto& context = *static_cast<file_context*>(data);
    try {
        return match_cursor(cursor, context);
    } catch (...) {
        // Unwinding through libclang's frames would skip its clean-up: stop the visit instead
        // and let file_search raise it once libclang is done.
        context.failure = std::current_exception();
        return CXChildVisit_Break;
    }
}

} // namespace search
