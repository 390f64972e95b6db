#pragma once

// libclang's cursors as the match decision and the cursor records see them.

#include "match_decision.hpp"

#include <clang-c/Index.h>

#include <optional>
#include <string>
#include <string_view>

namespace search {

// The text of a libclang string, which is released.
inline std::string owned_text(CXString text) {
    const char* chars = clang_getCString(text);
    std::string copy = chars != nullptr ? chars : "";
    clang_disposeString(text);
    return copy;
}

// The raw offset and length of an extent. Offsets of the main file start at 2 in the raw
// encoding; those of other files and of macro expansions lie beyond its end.
inline void raw_offsets(const CXSourceRange& extent, cursor_extent& at) {
    at.offset = extent.begin_int_data - 2u;
    at.length = extent.end_int_data - extent.begin_int_data;
}

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

// "::" followed by the names of the cursor's scopes and its own, joined by "::": what it
// declares, or for a reference what it refers to.
std::string qualified_name_of(CXCursor cursor);

// A cursor as the match decision sees it; the extent and the names are fetched once, the
// names only when they are asked for.
class clang_cursor {
public:
    explicit clang_cursor(CXCursor cursor) : cursor(cursor) {}

    int kind() const { return cursor.kind; }

    const cursor_extent& extent() {
        if (!have_extent) {
            const CXSourceRange raw = clang_getCursorExtent(cursor);
            clang_getExpansionLocation(clang_getRangeStart(raw), nullptr, &at.start_line, nullptr,
                                       nullptr);
            clang_getExpansionLocation(clang_getRangeEnd(raw), nullptr, &at.end_line, nullptr,
                                       nullptr);
            raw_offsets(raw, at);
            have_extent = true;
        }
        return at;
    }

    std::string_view name() {
        if (!name_text) {
            name_text.emplace(cursor);
        }
        return name_text->text();
    }

    std::string_view qualified_name() {
        if (!qualified) {
            qualified = qualified_name_of(cursor);
        }
        return *qualified;
    }

private:
    CXCursor cursor;
    cursor_extent at;
    bool have_extent = false;
    std::optional<spelling> name_text;
    std::optional<std::string> qualified;
};

} // namespace search
