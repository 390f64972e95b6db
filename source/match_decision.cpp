#include "match_decision.hpp"

#include "searcher.hpp"

#include <array>

namespace search {

namespace {

using s = searcher;

const kind_row kind_rows[] = {
    {CXCursor_FieldDecl, &s::include_expressions, "reference", true},
    {CXCursor_MemberRef, &s::include_expressions, "reference", true},
    {CXCursor_DeclRefExpr, &s::include_expressions, "reference", true},
    {CXCursor_MemberRefExpr, &s::include_expressions, "reference", true},
    {CXCursor_EnumDecl, &s::search_for_enum, "enum", false},
    {CXCursor_StructDecl, &s::search_for_struct, "struct", false},
    {CXCursor_UnionDecl, &s::search_for_union, "union", false},
    {CXCursor_CXXMethod, &s::search_for_member_function, "member_function", false},
    {CXCursor_FunctionDecl, &s::search_for_function, "function", false},
    {CXCursor_FunctionTemplate, &s::search_for_function_template, "function_template", false},
    {CXCursor_ClassDecl, &s::search_for_class, "class", false},
    {CXCursor_ClassTemplate, &s::search_for_class_template, "class_template", false},
    {CXCursor_Constructor, &s::search_for_class_constructor, "class_constructor", false},
    {CXCursor_Destructor, &s::search_for_class_destructor, "class_destructor", false},
    {CXCursor_TypedefDecl, &s::search_for_typedef, "typedef", false},
    {CXCursor_UsingDirective, &s::search_for_using_declaration, "using_declaration", false},
    {CXCursor_UsingDeclaration, &s::search_for_using_declaration, "using_declaration", false},
    {CXCursor_TypeAliasDecl, &s::search_for_using_declaration, "using_declaration", false},
    {CXCursor_NamespaceAlias, &s::search_for_namespace_alias, "namespace_alias", false},
    {CXCursor_VarDecl, &s::search_for_variable_declaration, "variable_declaration", false},
    {CXCursor_ParmDecl, &s::search_for_parameter_declaration, "parameter_declaration", false},
    {CXCursor_CXXStaticCastExpr, &s::search_for_static_cast, "static_cast", false},
    {CXCursor_CXXDynamicCastExpr, &s::search_for_dynamic_cast, "dynamic_cast", false},
    {CXCursor_CXXReinterpretCastExpr, &s::search_for_reinterpret_cast, "reinterpret_cast", false},
    {CXCursor_CXXConstCastExpr, &s::search_for_const_cast, "const_cast", false},
    {CXCursor_CXXThrowExpr, &s::search_for_throw_expression, "throw_expression", false},
    {CXCursor_ForStmt, &s::search_for_for_statement, "for_statement", false},
    {CXCursor_CXXForRangeStmt, &s::search_for_for_statement, "for_statement", false},
};

// Every kind of the table is below this bound, so a kind indexes the lookup directly.
constexpr int kind_bound = 256;

std::array<const kind_row*, kind_bound> index_kinds() {
    std::array<const kind_row*, kind_bound> index{};
    for (const kind_row& row : kind_rows) {
        index[static_cast<std::size_t>(row.kind)] = &row;
    }
    return index;
}

// Any of these kinds makes every cursor face the text test instead of the name test.
bool text_test_enabled() {
    return s::search_for_throw_expression || s::search_for_typedef || s::search_for_static_cast ||
           s::search_for_dynamic_cast || s::search_for_reinterpret_cast ||
           s::search_for_const_cast || s::search_for_for_statement;
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

} // namespace

const kind_row* find_kind(int kind) {
    static const std::array<const kind_row*, kind_bound> index = index_kinds();
    return kind >= 0 && kind < kind_bound ? index[static_cast<std::size_t>(kind)] : nullptr;
}

bool passes_line_rule(const cursor_lines& lines) {
    return s::ignore_single_line_results ? lines.end > lines.start : lines.end >= lines.start;
}

bool name_test_applies() {
    return !s::query.empty() && !text_test_enabled();
}

bool passes_name_test(std::string_view name, bool expression) {
    return !(s::exact_match && expression) && name_matches(name);
}

bool passes_text_test(std::string_view snippet) {
    return s::query.empty() || !text_test_enabled() || text_matches(snippet);
}

bool cut_snippet(const cursor_span& span, bool expression, std::string_view content,
                 std::string_view& snippet) {
    if (span.offset >= content.size()) {
        return false;
    }
    if (expression) {
        snippet = source_line(content, span.offset);
        return true;
    }
    // An end past the content lies in a macro argument or another file: the raw offsets
    // do not measure the entity's text then.
    if (span.length > content.size() - span.offset) {
        return false;
    }
    snippet = content.substr(span.offset, span.length);
    return true;
}

std::uint32_t column_of(std::string_view content, std::uint32_t offset) {
    const std::size_t feed = offset == 0 ? std::string_view::npos : content.rfind('\n', offset - 1);
    const std::size_t line_start = feed == std::string_view::npos ? 0 : feed + 1;
    return offset - static_cast<std::uint32_t>(line_start) + 1;
}

} // namespace search
