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

namespace {

// Where the main file spells a location in a macro's argument.
struct spelled_place {
    bool found = false;
    unsigned offset = 0;
    unsigned line = 0;
};

// The spelling of a token of a macro's argument that the main file writes: there a location's
// file location, which follows arguments to where they are spelled, is its spelling location
// too. A token of a macro's body has its expansion's place as its file location, and its
// spelling in the macro's definition; a pasted name is spelled in no file.
spelled_place spelled_argument(CXSourceLocation location, CXFile main_file) {
    CXFile file = nullptr;
    spelled_place place;
    clang_getFileLocation(location, &file, &place.line, nullptr, &place.offset);
    CXFile spelled = nullptr;
    unsigned spelled_offset = 0;
    clang_getSpellingLocation(location, &spelled, nullptr, nullptr, &spelled_offset);
    place.found = file != nullptr && spelled != nullptr && clang_File_isEqual(file, main_file) &&
                  clang_File_isEqual(spelled, file) && spelled_offset == place.offset;
    return place;
}

// A declaration whose first tokens a macro wrote, with its name written in the main file outside
// any expansion, starts where that macro is invoked.
bool place_from_macro_start(CXCursor cursor, const CXSourceRange& extent, cursor_place& place) {
    // A name that a macro produced (a function written by GETTER(x)) keeps the cursor out.
    const CXSourceLocation name = clang_getCursorLocation(cursor);
    if (is_macro_location(name.int_data) || !clang_Location_isFromMainFile(name)) {
        return false;
    }
    CXFile name_file = nullptr;
    clang_getExpansionLocation(name, &name_file, nullptr, nullptr, nullptr);
    CXFile start_file = nullptr;
    unsigned start = 0;
    clang_getExpansionLocation(clang_getRangeStart(extent), &start_file, nullptr, nullptr, &start);
    if (start_file == nullptr || !clang_File_isEqual(start_file, name_file)) {
        return false;
    }
    place.span = {start, extent.end_int_data - 2u - start};
    return true;
}

// A cursor whose first and last tokens the main file spells in a macro's argument. The
// extent's end lies just past its last token: one byte back is inside that token.
bool place_in_argument(const CXSourceRange& extent, CXFile main_file, cursor_place& place) {
    CXSourceLocation last = clang_getRangeEnd(extent);
    last.int_data -= 1;
    const spelled_place start = spelled_argument(clang_getRangeStart(extent), main_file);
    const spelled_place end = spelled_argument(last, main_file);
    if (!start.found || !end.found || end.offset < start.offset) {
        return false;
    }
    place.span = {start.offset, end.offset + 1 - start.offset};
    place.lines = {start.line, end.line};
    place.lines_known = true;
    return true;
}

} // namespace

cursor_place place_of(CXCursor cursor, const CXSourceRange& extent, CXFile main_file) {
    cursor_place place;
    place.span = span_of(extent);
    if (!is_macro_location(extent.begin_int_data)) {
        return place;
    }
    if (!is_macro_location(extent.end_int_data)) {
        place_from_macro_start(cursor, extent, place);
    } else {
        place_in_argument(extent, main_file, place);
    }
    return place;
}

std::uint32_t location_offset(CXSourceLocation location, CXFile main_file) {
    if (is_macro_location(location.int_data)) {
        const spelled_place spelled = spelled_argument(location, main_file);
        if (spelled.found) {
            return spelled.offset;
        }
    }
    return location.int_data - 2u;
}

cursor_span directive_span(const cursor_span& name_on, std::string_view content) {
    if (name_on.offset >= content.size()) {
        return name_on;
    }
    const std::size_t line_feed = content.rfind('\n', name_on.offset);
    std::size_t start = line_feed == std::string_view::npos ? 0 : line_feed + 1;
    while (start < name_on.offset && (content[start] == ' ' || content[start] == '\t')) {
        ++start;
    }
    if (start >= name_on.offset || content[start] != '#') {
        return name_on;
    }
    const auto widened = static_cast<std::uint32_t>(name_on.offset - start);
    return {static_cast<std::uint32_t>(start), name_on.length + widened};
}

namespace {

// Whether a namespace's text starts at or just after the "::" of a nested definition: "::b"
// in namespace a::b, "inline b" in namespace a::inline b.
bool continues_nested_name(std::string_view content, std::uint32_t offset) {
    if (offset >= content.size()) {
        return false;
    }
    std::size_t before = offset;
    while (before > 0 && (content[before - 1] == ' ' || content[before - 1] == '\t')) {
        --before;
    }
    return content.substr(offset, 2) == "::" ||
           (before >= 2 && content.substr(before - 2, 2) == "::");
}

} // namespace

cursor_span nested_namespace_span(CXCursor inner, const cursor_span& span,
                                  std::string_view content) {
    cursor_span whole = span;
    CXCursor outer = inner;
    while (continues_nested_name(content, whole.offset)) {
        outer = clang_getCursorLexicalParent(outer);
        if (outer.kind != CXCursor_Namespace) {
            return span;
        }
        whole = span_of(clang_getCursorExtent(outer));
    }
    return whole;
}

bool has_no_name(CXCursor cursor) {
    switch (cursor.kind) {
    case CXCursor_StructDecl:
    case CXCursor_UnionDecl:
    case CXCursor_ClassDecl:
    case CXCursor_EnumDecl:
        return clang_Cursor_isAnonymous(cursor) != 0;
    default:
        return false;
    }
}

CXFile unit_facts::main_file() {
    if (main == nullptr) {
        const clang_text source(clang_getTranslationUnitSpelling(unit));
        main = clang_getFile(unit, std::string(source.view()).c_str());
    }
    return main;
}

std::string_view unit_facts::main_content() {
    if (!content) {
        std::size_t size = 0;
        const char* bytes = clang_getFileContents(unit, main_file(), &size);
        content = bytes != nullptr ? std::string_view(bytes, size) : std::string_view();
    }
    return *content;
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
