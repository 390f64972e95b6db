#include "cache/cursor_records.hpp"

#include "match/match_decision.hpp"
#include "output/match_output.hpp"
#include "clang/clang_cursor.hpp"

#include <unordered_map>

namespace search {

namespace {

struct collection {
    file_context& context;
    file_records& out;
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

// Adds the record of one cursor, then those inside it, so that its subtree's end is known.
CXChildVisitResult collect(CXCursor cursor, collection& into) {
    const kind_row* row = find_kind(cursor.kind);
    if (row == nullptr) {
        return CXChildVisit_Recurse;
    }
    clang_cursor facts(cursor, into.unit);
    const cursor_span& span = facts.span();
    std::string_view snippet;
    // Elsewhere than in the file, a cursor is neither printed nor pruned whatever the query.
    if (!cut_snippet(span, row->expression, into.context.content, snippet)) {
        return CXChildVisit_Recurse;
    }
    const cursor_lines& lines = facts.lines();
    std::vector<cursor_record>& records = into.out.records;
    const std::string_view name = facts.name();
    cursor_record record;
    record.kind = static_cast<std::uint32_t>(cursor.kind);
    record.start_line = lines.start;
    record.end_line = lines.end;
    record.offset = span.offset;
    record.length = span.length;
    record.name_at = facts.name_offset();
    record.name_offset = into.add_text(name);
    record.name_length = static_cast<std::uint32_t>(name.size());
    const scoped_name qualified = facts.qualified_name();
    record.qualified_length = static_cast<std::uint32_t>(qualified.text.size());
    record.qualified_offset = into.add_text(qualified.text);
    record.scope_length = qualified.scope_length;
    const std::size_t index = records.size();
    records.push_back(record);
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

// A record as the match decision sees it.
class record_cursor {
public:
    record_cursor(const cursor_record& record, const std::string& arena)
        : record(record),
          arena(arena), at{record.offset, record.length}, lines_at{record.start_line,
                                                                   record.end_line} {}

    int kind() const { return static_cast<int>(record.kind); }
    const cursor_span& span() const { return at; }
    const cursor_lines& lines() const { return lines_at; }
    std::string_view name() const {
        return std::string_view(arena).substr(record.name_offset, record.name_length);
    }
    scoped_name qualified_name() const {
        return {std::string_view(arena).substr(record.qualified_offset, record.qualified_length),
                record.scope_length};
    }
    std::uint32_t name_offset() const { return record.name_at; }

private:
    const cursor_record& record;
    const std::string& arena;
    cursor_span at;
    cursor_lines lines_at;
};

} // namespace

bool collect_records(CXTranslationUnit unit, file_context& context, file_records& out) {
    collection into{context, out, unit_facts(unit), {}};
    return clang_visitChildren(clang_getTranslationUnitCursor(unit), &collect_cursor, &into) == 0;
}

void replay_records(const file_records& in, file_context& context) {
    for (std::size_t i = 0; i < in.records.size();) {
        record_cursor cursor(in.records[i], in.arena);
        std::string_view snippet;
        switch (decide(cursor, context, snippet)) {
        case verdict::prune:
            i = in.records[i].subtree_end;
            continue;
        case verdict::match:
            report_match(context, describe(cursor, context, snippet));
            break;
        case verdict::pass:
            break;
        }
        ++i;
    }
}

} // namespace search
