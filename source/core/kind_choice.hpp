#pragma once

// The kinds of entity a search can look for: the choice made on the command line, and one row
// per field of it with the libclang cursor kinds that field admits.

#include <array>
#include <cstddef>
#include <string_view>

namespace search {

// Which kinds a search looks for. Without any kind option every search_for_ field holds but
// those of the opt-in kinds, which only their own options choose; include_expressions adds the
// expression group to whatever kinds are chosen.
struct kind_choice {
    bool search_for_enum = true;
    bool search_for_struct = true;
    bool search_for_union = true;
    bool search_for_member_function = true;
    bool search_for_function = true;
    bool search_for_function_template = true;
    bool search_for_class = true;
    bool search_for_class_template = true;
    bool search_for_class_constructor = true;
    bool search_for_class_destructor = true;
    bool search_for_typedef = true;
    bool search_for_using_declaration = true;
    bool search_for_namespace_alias = true;
    bool search_for_variable_declaration = true;
    bool search_for_parameter_declaration = true;
    bool search_for_static_cast = true;
    bool search_for_dynamic_cast = true;
    bool search_for_reinterpret_cast = true;
    bool search_for_const_cast = true;
    bool search_for_throw_expression = true;
    bool search_for_for_statement = true;
    bool include_expressions = false;
    bool search_for_enum_constant = false;
    bool search_for_macro = false;
    bool search_for_lambda = false;
    bool search_for_namespace = false;
};

// One field of kind_choice. The cursor kinds are libclang's CXCursorKind values (this layer
// does not see libclang's header; tests/kinds_test.cpp holds them to the enum's names), at
// most four, the unused places 0, which is no cursor kind.
struct kind_row {
    bool kind_choice::*field;
    // The kind's name in machine-readable output.
    std::string_view name;
    // Choosing this kind puts every cursor, whatever its kind, to the text test.
    bool text_tested;
    // The expression group: printed as its source line, never passed by the exact name test.
    bool expression;
    std::array<int, 4> cursor_kinds;
};

// In the order of kind_choice's fields; above each row, libclang's names of its cursor kinds.
inline constexpr kind_row kind_rows[] = {
    // CXCursor_EnumDecl
    {&kind_choice::search_for_enum, "enum", false, false, {5}},
    // CXCursor_StructDecl
    {&kind_choice::search_for_struct, "struct", false, false, {2}},
    // CXCursor_UnionDecl
    {&kind_choice::search_for_union, "union", false, false, {3}},
    // CXCursor_CXXMethod
    {&kind_choice::search_for_member_function, "member_function", false, false, {21}},
    // CXCursor_FunctionDecl
    {&kind_choice::search_for_function, "function", false, false, {8}},
    // CXCursor_FunctionTemplate
    {&kind_choice::search_for_function_template, "function_template", false, false, {30}},
    // CXCursor_ClassDecl
    {&kind_choice::search_for_class, "class", false, false, {4}},
    // CXCursor_ClassTemplate, CXCursor_ClassTemplatePartialSpecialization
    {&kind_choice::search_for_class_template, "class_template", false, false, {31, 32}},
    // CXCursor_Constructor
    {&kind_choice::search_for_class_constructor, "class_constructor", false, false, {24}},
    // CXCursor_Destructor
    {&kind_choice::search_for_class_destructor, "class_destructor", false, false, {25}},
    // CXCursor_TypedefDecl
    {&kind_choice::search_for_typedef, "typedef", true, false, {20}},
    // CXCursor_UsingDirective, CXCursor_UsingDeclaration, CXCursor_TypeAliasDecl
    {&kind_choice::search_for_using_declaration, "using_declaration", false, false, {34, 35, 36}},
    // CXCursor_NamespaceAlias
    {&kind_choice::search_for_namespace_alias, "namespace_alias", false, false, {33}},
    // CXCursor_VarDecl
    {&kind_choice::search_for_variable_declaration, "variable_declaration", false, false, {9}},
    // CXCursor_ParmDecl
    {&kind_choice::search_for_parameter_declaration, "parameter_declaration", false, false, {10}},
    // CXCursor_CXXStaticCastExpr
    {&kind_choice::search_for_static_cast, "static_cast", true, false, {124}},
    // CXCursor_CXXDynamicCastExpr
    {&kind_choice::search_for_dynamic_cast, "dynamic_cast", true, false, {125}},
    // CXCursor_CXXReinterpretCastExpr
    {&kind_choice::search_for_reinterpret_cast, "reinterpret_cast", true, false, {126}},
    // CXCursor_CXXConstCastExpr
    {&kind_choice::search_for_const_cast, "const_cast", true, false, {127}},
    // CXCursor_CXXThrowExpr
    {&kind_choice::search_for_throw_expression, "throw_expression", true, false, {133}},
    // CXCursor_ForStmt, CXCursor_CXXForRangeStmt
    {&kind_choice::search_for_for_statement, "for_statement", true, false, {209, 225}},
    // CXCursor_FieldDecl, CXCursor_MemberRef, CXCursor_DeclRefExpr, CXCursor_MemberRefExpr
    {&kind_choice::include_expressions, "reference", false, true, {6, 47, 101, 102}},
    // CXCursor_EnumConstantDecl
    {&kind_choice::search_for_enum_constant, "enum_constant", false, false, {7}},
    // CXCursor_MacroDefinition: visited only in a unit parsed with its preprocessing record
    {&kind_choice::search_for_macro, "macro", false, false, {501}},
    // CXCursor_LambdaExpr
    {&kind_choice::search_for_lambda, "lambda", true, false, {144}},
    // CXCursor_Namespace
    {&kind_choice::search_for_namespace, "namespace", false, false, {22}},
};

// The row of a field of kind_choice, or nullptr.
constexpr const kind_row* row_of(bool kind_choice::*field) {
    for (const kind_row& row : kind_rows) {
        if (row.field == field) {
            return &row;
        }
    }
    return nullptr;
}

constexpr std::size_t count_text_tested() {
    std::size_t count = 0;
    for (const kind_row& row : kind_rows) {
        count += row.text_tested ? 1 : 0;
    }
    return count;
}

// The fields of the text-tested kinds, gathered once: the test below runs for every cursor.
inline constexpr auto text_tested_fields = [] {
    std::array<bool kind_choice::*, count_text_tested()> fields{};
    std::size_t next = 0;
    for (const kind_row& row : kind_rows) {
        if (row.text_tested) {
            fields[next++] = row.field;
        }
    }
    return fields;
}();

// Whether a chosen kind makes every cursor face the text test instead of the name test.
constexpr bool text_test_enabled(const kind_choice& choice) {
    for (bool kind_choice::*field : text_tested_fields) {
        if (choice.*field) {
            return true;
        }
    }
    return false;
}

} // namespace search
