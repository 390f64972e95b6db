#pragma once

// The one decision whether a cursor is a match. Cursors reach it from libclang's visit and
// from stored records alike, so both roads print the same matches.

#include "core/search_types.hpp"
#include "match/kinds.hpp"
#include "match/query.hpp"

#include <cstdint>
#include <string_view>

namespace search {

// What a cursor must be to be a match: of a chosen kind, past the line rule, and through the
// query's name or text test.
struct match_rules {
    search::query query;
    kind_choice kinds;
    // -i1: an entity on one line is no match.
    bool ignore_single_line_results = false;
};

// The parts of the decision that do not depend on where the cursor comes from.
bool passes_line_rule(const match_rules& rules, const cursor_lines& lines);
bool passes_name_test(const match_rules& rules, std::string_view name, bool expression);
bool passes_text_test(const match_rules& rules, std::string_view snippet);
// Whether the visit reaches this match for the first time in its file; notes it.
bool reached_first_time(file_context& file, int kind, const cursor_span& span);
// The entity's text, or its source line for the expression group; false when the cursor
// does not lie in the content.
bool cut_snippet(const cursor_span& span, bool expression, std::string_view content,
                 std::string_view& snippet);

// Whether content writes a reference's name at offset, where libclang places it. The references
// that a construct implies (a range-for's __begin1 and its operator*, an implicit conversion)
// stand where the construct is written instead. A place outside content is not judged.
bool is_written_reference(std::string_view content, std::uint32_t offset, std::string_view name);

// The 1-based byte column of offset in content.
std::uint32_t column_of(std::string_view content, std::uint32_t offset);

// The line holding offset in content, without its leading blanks and its line end.
std::string_view source_line(std::string_view content, std::size_t offset);

// Sets the name's place in found from the raw offset of the cursor's location; an entity
// whose location is not in the content (a macro's) keeps the place of its start. span's
// start lies in the content, on line found.start_line.
void place_name(match& found, std::string_view content, const cursor_span& span,
                std::uint32_t name_offset);

// The name test as it applies to a cursor of row's kind: to its name, or to its qualified name
// for a qualified query; passed by every cursor when no name test applies. Cursor provides
// name() and qualified_name().
template <class Cursor>
bool passes_names(const match_rules& rules, const kind_row& row, Cursor& cursor) {
    const search::query& query = rules.query;
    return !query.name_test_applies() ||
           (query.is_qualified() ? query.qualified_name_matches(cursor.qualified_name())
                                 : passes_name_test(rules, cursor.name(), row.expression));
}

// Cursor provides kind(), span(), lines(), name(), qualified_name() and name_offset(). The
// cheap tests come first, so that a producer that fetches the others lazily fetches them only
// for cursors in the file; any failing test before the text test gives the same verdict. A
// qualified query names one entity, so its exact test passes the expression group too.
template <class Cursor>
verdict decide(const match_rules& rules, Cursor& cursor, file_context& file,
               std::string_view& snippet) {
    const kind_row* row = find_kind(cursor.kind());
    if (row == nullptr || !is_chosen(rules.kinds, *row) ||
        !cut_snippet(cursor.span(), row->expression, file.content, snippet) ||
        !passes_line_rule(rules, cursor.lines())) {
        return verdict::pass;
    }
    if (!passes_names(rules, *row, cursor)) {
        return verdict::pass;
    }
    if (!passes_text_test(rules, snippet)) {
        return verdict::prune;
    }
    if (row->expression &&
        !is_written_reference(file.content, cursor.name_offset(), cursor.name())) {
        return verdict::pass;
    }
    return reached_first_time(file, cursor.kind(), cursor.span()) ? verdict::match : verdict::pass;
}

// The match as the writers see it.
template <class Cursor>
match describe(Cursor& cursor, const file_context& file, std::string_view snippet) {
    const cursor_lines& lines = cursor.lines();
    match found;
    found.path = file.path;
    found.snippet = snippet;
    found.name = cursor.name();
    found.kind_name = find_kind(cursor.kind())->name;
    found.start_line = lines.start;
    found.end_line = lines.end;
    found.column = column_of(file.content, cursor.span().offset);
    place_name(found, file.content, cursor.span(), cursor.name_offset());
    return found;
}

} // namespace search
