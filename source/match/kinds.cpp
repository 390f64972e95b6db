#include "match/kinds.hpp"

#include <array>
#include <cstddef>

namespace search {

namespace {

// Every cursor kind of the table is below this bound (CXCursor_MacroDefinition is 501), so a
// kind indexes the lookup directly.
constexpr int kind_bound = 512;

using kind_index = std::array<const kind_row*, kind_bound>;

constexpr kind_index index_kinds() {
    kind_index index{};
    for (const kind_row& row : kind_rows) {
        for (int kind : row.cursor_kinds) {
            if (kind != 0) {
                index[static_cast<std::size_t>(kind)] = &row;
            }
        }
    }
    return index;
}

constexpr kind_index kinds_by_cursor_kind = index_kinds();

} // namespace

const kind_row* find_kind(int kind) {
    return kind >= 0 && kind < kind_bound ? kinds_by_cursor_kind[static_cast<std::size_t>(kind)]
                                          : nullptr;
}

} // namespace search
