#include "match/kinds.hpp"

#include "core/searcher.hpp"

#include <clang-c/Index.h>

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

} // namespace

const kind_row* find_kind(int kind) {
    static const std::array<const kind_row*, kind_bound> index = index_kinds();
    return kind >= 0 && kind < kind_bound ? index[static_cast<std::size_t>(kind)] : nullptr;
}

bool text_test_enabled() {
    return s::search_for_throw_expression || s::search_for_typedef || s::search_for_static_cast ||
           s::search_for_dynamic_cast || s::search_for_reinterpret_cast ||
           s::search_for_const_cast || s::search_for_for_statement;
}

} // namespace search
