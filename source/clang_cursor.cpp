#include "clang_cursor.hpp"

#include <vector>

namespace search {

namespace {

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

std::string qualified_name_of(CXCursor cursor) {
    CXCursor named = cursor;
    if (is_reference(cursor.kind)) {
        const CXCursor referenced = clang_getCursorReferenced(cursor);
        if (!clang_Cursor_isNull(referenced)) {
            named = referenced;
        }
    }
    std::vector<std::string> parts{owned_text(clang_getCursorSpelling(named))};
    for (CXCursor scope = clang_getCursorSemanticParent(named); !is_end_of_scopes(scope);
         scope = clang_getCursorSemanticParent(scope)) {
        if (is_written_scope(scope)) {
            std::string part = owned_text(clang_getCursorSpelling(scope));
            if (!part.empty()) {
                parts.push_back(std::move(part));
            }
        }
    }
    std::string name;
    for (auto part = parts.rbegin(); part != parts.rend(); ++part) {
        name += "::";
        name += *part;
    }
    return name;
}

} // namespace search
