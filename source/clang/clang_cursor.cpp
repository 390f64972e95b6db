#include "clang/clang_cursor.hpp"

namespace search {

namespace {

// The raw encoding marks a location inside a macro expansion with its highest bit.
bool is_macro_location(unsigned raw) {
    return (raw & 0x80000000u) != 0;
}

bool is_reference(CXCursorKind kind) {
    return kind == CXCursor_DeclRefExpr || kind == CXCursor_MemberRefExpr ||
           kind == CXCursor_MemberRef;
}

bool is_end_of_scopes(CXCursor cursor) {
    return clang_Cursor_isNull(cursor) || cursor.kind == CXCursor_TranslationUnit ||
           (cursor.kind >= CXCursor_FirstInvalid && cursor.kind <= CXCursor_LastInvalid);
}

// A scope as a user writes it inside its file: anonymous namespaces and records, inline
// namespaces and extern "C" blocks are left out.
bool is_written_scope(CXCursor scope) {
    return clang_isDeclaration(scope.kind) && scope.kind != CXCursor_LinkageSpec &&
           scope.kind != CXCursor_UnexposedDecl && !clang_Cursor_isAnonymous(scope) &&
           !clang_Cursor_isInlineNamespace(scope);
}

} // namespace

cursor_span span_of(CXCursor cursor, const CXSourceRange& extent) {
    const cursor_span raw = span_of(extent);
    if (!is_macro_location(extent.begin_int_data)) {
        return raw;
    }
    // A name that a macro produced (a function written by GETTER(x)) keeps the cursor out.
    const CXSourceLocation name = clang_getCursorLocation(cursor);
    if (is_macro_location(name.int_data) || !clang_Location_isFromMainFile(name)) {
        return raw;
    }
    CXFile name_file = nullptr;
    clang_getExpansionLocation(name, &name_file, nullptr, nullptr, nullptr);
    CXFile start_file = nullptr;
    unsigned start = 0;
    clang_getExpansionLocation(clang_getRangeStart(extent), &start_file, nullptr, nullptr, &start);
    if (start_file == nullptr || !clang_File_isEqual(start_file, name_file)) {
        return raw;
    }
    return {start, extent.end_int_data - 2u - start};
}

bool clang_cursor::end_expansion(std::uint32_t& offset) {
    span();
    CXFile start_file = nullptr;
    CXFile end_file = nullptr;
    unsigned end = 0;
    clang_getExpansionLocation(clang_getRangeStart(extent), &start_file, nullptr, nullptr, nullptr);
    clang_getExpansionLocation(clang_getRangeEnd(extent), &end_file, nullptr, nullptr, &end);
    if (start_file == nullptr || end_file == nullptr || !clang_File_isEqual(start_file, end_file)) {
        return false;
    }
    offset = end;
    return true;
}

scoped_name qualified_names::of(CXCursor cursor) {
    CXCursor declaration = cursor;
    if (is_reference(cursor.kind)) {
        const CXCursor referenced = clang_getCursorReferenced(cursor);
        if (!clang_Cursor_isNull(referenced)) {
            declaration = referenced;
        }
    }
    const known_name& name = of_declaration(declaration);
    return {name.text, name.scope_length};
}

const qualified_names::known_name& qualified_names::of_declaration(CXCursor declaration) {
    const unsigned hash = clang_hashCursor(declaration);
    for (auto [at, end] = known.equal_range(hash); at != end; ++at) {
        if (clang_equalCursors(at->second.declaration, declaration)) {
            return at->second;
        }
    }
    std::string text = prefix_in(clang_getCursorSemanticParent(declaration));
    const auto scope_length = static_cast<std::uint32_t>(text.size());
    text += "::";
    text += owned_text(clang_getCursorSpelling(declaration));
    return known.emplace(hash, known_name{declaration, std::move(text), scope_length})->second;
}

// What the names declared in scope begin with: the scope's own qualified name, or for a scope
// that is not written (anonymous, inline, extern "C") that of the scope around it.
const std::string& qualified_names::prefix_in(CXCursor scope) {
    if (is_end_of_scopes(scope)) {
        return none;
    }
    if (!is_written_scope(scope) || owned_text(clang_getCursorSpelling(scope)).empty()) {
        return prefix_in(clang_getCursorSemanticParent(scope));
    }
    return of_declaration(scope).text;
}

} // namespace search
