#pragma once

// What a parse leaves for the match decision, kept so that later searches answer without
// parsing: one record per cursor that can ever be a match, in libclang's visiting order, with
// its strings in one arena. A record keeps offsets into the file, never lines: the lines are
// counted in the bytes searched.

#include "core/search_types.hpp"
#include "match/match_decision.hpp"
#include "output/match_output.hpp"

#include <clang-c/Index.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace search {

struct cursor_record {
    std::uint32_t kind = 0;
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    std::uint32_t end_at = 0; // where the cursor's end expands in the file: its end line's place
    std::uint32_t name_offset = 0; // the spelling, in the arena
    std::uint32_t name_length = 0;
    std::uint32_t qualified_offset = 0; // the qualified name, in the arena
    std::uint32_t qualified_length = 0;
    std::uint32_t scope_length = 0; // of the qualified name's part before its last component
    std::uint32_t subtree_end = 0;  // the index after the last record inside this one
    std::uint32_t name_at = 0;      // the raw offset of the cursor's location
};

// Records where they lie, in a file_records or in an entry's bytes, which need not be aligned
// for them: each is read out when it is used.
class records_view {
public:
    records_view() = default;
    // bytes: whole records; arena: the strings they point into.
    records_view(std::string_view bytes, std::string_view arena) : bytes(bytes), strings(arena) {}

    std::size_t size() const { return bytes.size() / sizeof(cursor_record); }
    cursor_record operator[](std::size_t index) const {
        cursor_record record;
        std::memcpy(&record, bytes.data() + index * sizeof record, sizeof record);
        return record;
    }
    std::string_view record_bytes() const { return bytes; }
    std::string_view arena() const { return strings; }

private:
    std::string_view bytes;
    std::string_view strings;
};

struct file_records {
    std::vector<cursor_record> records;
    std::string arena;
    // False when a record's end expands in another file (an #include in the middle of an
    // expression): its end line is not one of this file's, and the records cannot tell it.
    bool lines_in_file = true;

    records_view view() const {
        return {
            {reinterpret_cast<const char*>(records.data()), records.size() * sizeof(cursor_record)},
            arena};
    }
};

// Records every cursor of the unit that the decision could ever print or prune: those of a
// matched kind that lie in the file. Returns false when the visit was stopped (by a failure
// kept in context). With lines, each record's lines are added to it as libclang tells them, for
// records that cannot tell them (lines_in_file false). With only (indexed by cursor kind),
// only the cursors of the kinds it sets are recorded.
bool collect_records(CXTranslationUnit unit, file_context& context, file_records& out,
                     std::vector<cursor_lines>* lines = nullptr,
                     const std::vector<bool>* only = nullptr);

// Runs the match decision over the records, as a visit of the unit would, and reports the
// matches. The records must fit context's content (records_fit). With lines, one per record,
// their lines are those, not counted in the content.
void replay_records(const records_view& in, const match_rules& rules, const match_writer& writer,
                    file_context& context, const std::vector<cursor_lines>* lines = nullptr);

// Whether the records could come from a parse of content: each of a matched kind, inside the
// content, with its strings in the arena, its subtree after it in the list, its end after its
// start, and its name the bytes at its place in content (cache/record_names.hpp). A replay of
// records that fit neither reads outside nor loops, and prints only the file's own text and
// lines.
bool records_fit(const records_view& records, std::string_view content);

// Whether any of the records could be a match under rules: of a chosen kind, with names that
// pass the name test. Records whose names lie outside their arena could: records_fit judges them.
bool any_may_match(const records_view& records, const match_rules& rules);

} // namespace search
