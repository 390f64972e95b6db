#pragma once

// What a parse leaves for the match decision, kept so that later searches answer without
// parsing: one record per cursor that can ever be a match, in libclang's visiting order, with
// its strings in one arena.

#include "core/search_types.hpp"

#include <clang-c/Index.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace search {

struct cursor_record {
    std::uint32_t kind = 0;
    std::uint32_t start_line = 0;
    std::uint32_t end_line = 0;
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    std::uint32_t name_offset = 0; // the spelling, in the arena
    std::uint32_t name_length = 0;
    std::uint32_t qualified_offset = 0; // the qualified name, in the arena
    std::uint32_t qualified_length = 0;
    std::uint32_t scope_length = 0; // of the qualified name's part before its last component
    std::uint32_t subtree_end = 0;  // the index after the last record inside this one
    std::uint32_t name_at = 0;      // the raw offset of the cursor's location
};

struct file_records {
    std::vector<cursor_record> records;
    std::string arena;
};

// Records every cursor of the unit that the decision could ever print or prune: those of a
// matched kind that lie in the file. Returns false when the visit was stopped (by a failure
// kept in context).
bool collect_records(CXTranslationUnit unit, file_context& context, file_records& out);

// Runs the match decision over the records, as a visit of the unit would, and reports the
// matches. The records must belong to context's content.
void replay_records(const file_records& in, file_context& context);

} // namespace search
