#include "cache/cursor_records.hpp"

#include "cache/line_index.hpp"
#include "cache/record_names.hpp"
#include "match/match_decision.hpp"
#include "output/match_output.hpp"
#include "clang/clang_cursor.hpp"

#include <unordered_map>

namespace search {

namespace {

struct collection {
    file_context& context;
    file_records& out;
    std::vector<cursor_lines>* lines;
    const std::vector<bool>* only;
    unit_facts unit;
    // Each name once in the arena: many cursors share a spelling, and many references name
    // the same declaration.
    std::unordered_map<std::string, std::uint32_t> in_arena;

    std::uint32_t add_text(std::string_view text) {
        auto [found, added] =
            in_arena.try_emplace(std::string(text), static_cast<std::uint32_t>(out.arena.size()));
        if (added) {
            out.arena.append(text);
        }
        return found->second;
    }
};

CXChildVisitResult collect_cursor(CXCursor cursor, CXCursor, CXClientData data) noexcept;

bool wanted(const std::vector<bool>& only, int kind) {
    return kind >= 0 && static_cast<std::size_t>(kind) < only.size() && only[kind];
}

// Adds the record of one cursor, then those inside it, so that its subtree's end is known.
CXChildVisitResult collect(CXCursor cursor, collection& into) {
    const kind_row* row = find_kind(cursor.kind);
    if (row == nullptr || (into.only != nullptr && !wanted(*into.only, cursor.kind))) {
        return CXChildVisit_Recurse;
    }
    clang_cursor facts(cursor, into.unit);
    const cursor_span& span = facts.span();
    std::string_view snippet;
    // Elsewhere than in the file, a cursor is neither printed nor pruned whatever the query.
    if (!cut_snippet(span, row->expression, into.context.content, snippet)) {
        return CXChildVisit_Recurse;
    }
    std::vector<cursor_record>& records = into.out.records;
    const std::string_view name = facts.name();
    cursor_record record;
    record.kind = static_cast<std::uint32_t>(cursor.kind);
    record.offset = span.offset;
    record.length = span.length;
    record.end_at = span.offset + span.length;
    // An expression may end in a macro's argument: its end line is where that expands.
    if (span.length > into.context.content.size() - span.offset &&
        !facts.end_expansion(record.end_at)) {
        into.out.lines_in_file = false;
    }
    record.name_at = facts.name_offset();
    record.name_offset = into.add_text(name);
    record.name_length = static_cast<std::uint32_t>(name.size());
    const scoped_name qualified = facts.qualified_name();
    record.qualified_length = static_cast<std::uint32_t>(qualified.text.size());
    record.qualified_offset = into.add_text(qualified.text);
    record.scope_length = qualified.scope_length;
    const std::size_t index = records.size();
    records.push_back(record);
    if (into.lines != nullptr) {
        into.lines->push_back(facts.lines());
    }
    if (clang_visitChildren(cursor, &collect_cursor, &into) != 0) {
        return CXChildVisit_Break;
    }
    records[index].subtree_end = static_cast<std::uint32_t>(records.size());
    return CXChildVisit_Continue;
}

CXChildVisitResult collect_cursor(CXCursor cursor, CXCursor, CXClientData data) noexcept {
    auto& into = *static_cast<collection*>(data);
    try {
        return collect(cursor, into);
    } catch (...) {
        // Unwinding through libclang's frames would skip its clean-up.
        into.context.failure = std::current_exception();
        return CXChildVisit_Break;
    }
}

bool within(std::uint32_t offset, std::uint32_t length, std::size_t size) {
    return offset <= size && length <= size - offset;
}

// A record's names as the name test reads them, which must lie in the arena.
struct record_names {
    const cursor_record& record;
    std::string_view arena;

    bool in_arena() const {
        return within(record.name_offset, record.name_length, arena.size()) &&
               within(record.qualified_offset, record.qualified_length, arena.size()) &&
               record.scope_length <= record.qualified_length;
    }
    std::string_view name() const { return arena.substr(record.name_offset, record.name_length); }
    scoped_name qualified_name() const {
        return {arena.substr(record.qualified_offset, record.qualified_length),
                record.scope_length};
    }
};

// A record as the match decision sees it; its lines are counted in the file's bytes.
class record_cursor {
public:
    record_cursor(const cursor_record& record, std::string_view arena, line_index& index,
                  const cursor_lines* told)
        : record(record), names{record, arena}, index(index), at{record.offset, record.length} {
        if (told != nullptr) {
            lines_at = *told;
            have_lines = true;
        }
    }

    int kind() const { return static_cast<int>(record.kind); }
    const cursor_span& span() const { return at; }
    const cursor_lines& lines() {
        if (!have_lines) {
            lines_at = {index.line_of(record.offset), index.line_of(record.end_at)};
            have_lines = true;
        }
        return lines_at;
    }
    std::string_view name() const { return names.name(); }
    scoped_name qualified_name() const { return names.qualified_name(); }
    std::uint32_t name_offset() const { return record.name_at; }

private:
    const cursor_record& record;
    record_names names;
    line_index& index;
    cursor_span at;
    cursor_lines lines_at;
    bool have_lines = false;
};

// A record's place as collect writes it: its start in the content, its end after its start;
// an end past the content only for the expression group, whose text is its start's line.
bool fits_content(const cursor_record& record, bool expression, std::string_view content) {
    const std::size_t size = content.size();
    if (record.offset >= size || record.end_at < record.offset || record.end_at > size) {
        return false;
    }
    return record.length <= size - record.offset ? record.end_at == record.offset + record.length
                                                 : expression;
}

bool record_fits(const records_view& records, std::size_t index, std::string_view content) {
    const cursor_record record = records[index];
    const kind_row* row = find_kind(static_cast<int>(record.kind));
    const record_names names{record, records.arena()};
    if (row == nullptr || !names.in_arena() || record.subtree_end <= index ||
        record.subtree_end > records.size() || !fits_content(record, row->expression, content)) {
        return false;
    }
    return name_stands_at(static_cast<int>(record.kind), names.name(), names.qualified_name(),
                          content, record.name_at);
}

} // namespace

bool collect_records(CXTranslationUnit unit, file_context& context, file_records& out,
                     std::vector<cursor_lines>* lines, const std::vector<bool>* only) {
    collection into{context, out, lines, only, unit_facts(unit), {}};
    return clang_visitChildren(clang_getTranslationUnitCursor(unit), &collect_cursor, &into) == 0;
}

void replay_records(const records_view& in, const match_rules& rules, const match_writer& writer,
                    file_context& context, const std::vector<cursor_lines>* lines) {
    line_index index(context.content);
    for (std::size_t i = 0; i < in.size();) {
        const cursor_lines* told = lines != nullptr ? &(*lines)[i] : nullptr;
        const cursor_record record = in[i];
        record_cursor cursor(record, in.arena(), index, told);
        std::string_view snippet;
        switch (decide(rules, cursor, context, snippet)) {
        case verdict::prune:
            i = record.subtree_end;
            continue;
        case verdict::match:
            writer.report(context, describe(cursor, context, snippet));
            break;
        case verdict::pass:
            break;
        }
        ++i;
    }
}

bool records_fit(const records_view& records, std::string_view content) {
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (!record_fits(records, i, content)) {
            return false;
        }
    }
    return true;
}

bool any_may_match(const records_view& records, const match_rules& rules) {
    for (std::size_t i = 0; i < records.size(); ++i) {
        const cursor_record record = records[i];
        const kind_row* row = find_kind(static_cast<int>(record.kind));
        if (row == nullptr || !is_chosen(rules.kinds, *row)) {
            continue;
        }
        const record_names names{record, records.arena()};
        if (!names.in_arena() || passes_names(rules, *row, names)) {
            return true;
        }
    }
    return false;
}

} // namespace search
