#pragma once

// libclang's cursors as the match decision and the cursor records see them.

#include "core/search_types.hpp"
#include "clang/clang_handles.hpp"

#include <clang-c/Index.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace search {

// The raw offset and length of an extent. Offsets of the main file start at 2 in the raw
// encoding; those of other files and of macro expansions lie beyond its end.
inline cursor_span span_of(const CXSourceRange& extent) {
    return {extent.begin_int_data - 2u, extent.end_int_data - extent.begin_int_data};
}

// Where a cursor's text is written in the main file, and on which lines; a span beyond the
// main file's end when it is not written there.
struct cursor_place {
    cursor_span span;
    cursor_lines lines;
    bool lines_known = false; // else the lines of the extent's expansion
};

// The place of a cursor's text. libclang maps an extent's end out of a macro expansion but not
// its start: a declaration whose first tokens a macro wrote (STATIC int f()) starts where that
// macro is invoked, when the declaration's name is written in the main file itself. A cursor
// whose tokens the file writes as a macro's argument (assert(x)) is placed where they are
// spelled; one that a macro's body or a pasted name made is not in the file.
cursor_place place_of(CXCursor cursor, const CXSourceRange& extent, CXFile main_file);

// The raw offset of a cursor's location, or for a location in a macro's argument that the
// main file spells, the offset of its spelling; beyond the main file's end elsewhere.
std::uint32_t location_offset(CXSourceLocation location, CXFile main_file);

// A macro definition's extent starts at its name: its text starts at the "#" that opens the
// directive on the name's line.
cursor_span directive_span(const cursor_span& name_on, std::string_view content);

// The inner namespaces of a nested definition (namespace a::b) start at their "::": their text
// is the whole definition's, the outermost namespace's.
cursor_span nested_namespace_span(CXCursor inner, const cursor_span& span,
                                  std::string_view content);

// Whether the cursor is a struct, union, class or enum without a name, whose spelling libclang
// makes up ("struct (unnamed at a.c:2:16)").
bool has_no_name(CXCursor cursor);

// Qualified names: "::" followed by the names of a declaration's scopes and its own, joined by
// "::"; for a reference those of what it refers to. Each declaration's is worked out once: the
// cursors of a file share a few scopes, and its references a few declarations.
class qualified_names {
public:
    scoped_name of(CXCursor cursor);

private:
    struct known_name {
        CXCursor declaration;
        std::string text;
        std::uint32_t scope_length;
    };

    const known_name& of_declaration(CXCursor declaration);
    const std::string& prefix_in(CXCursor scope);

    std::unordered_multimap<unsigned, known_name> known; // by hash
    const std::string none;
};

// What the cursors of one unit share: the qualified names, each worked out once, and the main
// file, found when the first cursor needs it.
class unit_facts {
public:
    explicit unit_facts(CXTranslationUnit unit) : unit(unit) {}

    qualified_names names;
    CXFile main_file();
    // The bytes of the main file that libclang parsed.
    std::string_view main_content();

private:
    CXTranslationUnit unit;
    CXFile main = nullptr;
    std::optional<std::string_view> content;
};

// A cursor as the match decision sees it; the extent and the names are fetched once, the
// names only when they are asked for.
class clang_cursor {
public:
    clang_cursor(CXCursor cursor, unit_facts& unit) : cursor(cursor), unit(unit) {}

    int kind() const { return cursor.kind; }

    const cursor_span& span() {
        if (!have_extent) {
            extent = clang_getCursorExtent(cursor);
            place = place_of(cursor, extent, in_macro() ? unit.main_file() : nullptr);
            if (cursor.kind == CXCursor_MacroDefinition) {
                place.span = directive_span(place.span, unit.main_content());
            } else if (cursor.kind == CXCursor_Namespace) {
                place.span = nested_namespace_span(cursor, place.span, unit.main_content());
            }
            have_extent = true;
        }
        return place.span;
    }

    // Lines cost a lookup each in the unit's source manager: they are fetched when asked for.
    const cursor_lines& lines() {
        span();
        if (!place.lines_known) {
            clang_getExpansionLocation(clang_getRangeStart(extent), nullptr, &place.lines.start,
                                       nullptr, nullptr);
            clang_getExpansionLocation(clang_getRangeEnd(extent), nullptr, &place.lines.end,
                                       nullptr, nullptr);
            place.lines_known = true;
        }
        return place.lines;
    }

    // The offset where the extent's end expands, when that lies in its start's file: an
    // expression that ends in a macro's argument ends, for its lines, where the macro is used.
    bool end_expansion(std::uint32_t& offset);

    // The spelling; empty for an entity without a name, for which libclang makes one up.
    std::string_view name() {
        if (!name_text) {
            name_text.emplace(has_no_name(cursor) ? CXString{nullptr, 0}
                                                  : clang_getCursorSpelling(cursor));
        }
        return name_text->view();
    }

    scoped_name qualified_name() { return unit.names.of(cursor); }

    // Where a declaration's name stands, or a reference: the raw offset of the cursor's
    // location, or where the file spells it in a macro's argument. Past the main file's end
    // when it lies elsewhere.
    std::uint32_t name_offset() {
        const CXSourceLocation location = clang_getCursorLocation(cursor);
        return location_offset(location, is_macro(location.int_data) ? unit.main_file() : nullptr);
    }

private:
    static bool is_macro(unsigned raw) { return (raw & 0x80000000u) != 0; }
    bool in_macro() const {
        return is_macro(extent.begin_int_data) || is_macro(extent.end_int_data);
    }

    CXCursor cursor;
    unit_facts& unit;
    CXSourceRange extent{};
    cursor_place place;
    bool have_extent = false;
    std::optional<clang_text> name_text;
};

} // namespace search
