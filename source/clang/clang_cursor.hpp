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

// The span of a cursor's text. libclang maps an extent's end out of a macro expansion but not
// its start: a declaration whose first tokens a macro wrote (STATIC int f()) starts where that
// macro is invoked, when the declaration's name is written in the main file itself.
cursor_span span_of(CXCursor cursor, const CXSourceRange& extent);

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

// A cursor as the match decision sees it; the extent and the names are fetched once, the
// names only when they are asked for. Qualified names come from names, shared by the unit's
// cursors.
class clang_cursor {
public:
    clang_cursor(CXCursor cursor, qualified_names& names) : cursor(cursor), names(names) {}

    int kind() const { return cursor.kind; }

    const cursor_span& span() {
        if (!have_extent) {
            extent = clang_getCursorExtent(cursor);
            at = span_of(cursor, extent);
            have_extent = true;
        }
        return at;
    }

    // Lines cost a lookup each in the unit's source manager: they are fetched when asked for.
    const cursor_lines& lines() {
        if (!have_lines) {
            span();
            clang_getExpansionLocation(clang_getRangeStart(extent), nullptr, &lines_at.start,
                                       nullptr, nullptr);
            clang_getExpansionLocation(clang_getRangeEnd(extent), nullptr, &lines_at.end, nullptr,
                                       nullptr);
            have_lines = true;
        }
        return lines_at;
    }

    // The offset where the extent's end expands, when that lies in its start's file: an
    // expression that ends in a macro's argument ends, for its lines, where the macro is used.
    bool end_expansion(std::uint32_t& offset);

    std::string_view name() {
        if (!name_text) {
            name_text.emplace(clang_getCursorSpelling(cursor));
        }
        return name_text->view();
    }

    scoped_name qualified_name() { return names.of(cursor); }

    // The raw offset of the cursor's location: where a declaration's name stands, or a
    // reference. Past the main file's end when it lies in a macro expansion or elsewhere.
    std::uint32_t name_offset() const { return clang_getCursorLocation(cursor).int_data - 2u; }

private:
    CXCursor cursor;
    qualified_names& names;
    CXSourceRange extent{};
    cursor_span at;
    cursor_lines lines_at;
    bool have_extent = false;
    bool have_lines = false;
    std::optional<clang_text> name_text;
};

} // namespace search
