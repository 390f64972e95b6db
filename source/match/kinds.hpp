#pragma once

// The cursor kinds that can be a match, found by their libclang kind, and whether the search
// looks for them.

#include "core/kind_choice.hpp"

namespace search {

// The row that admits a libclang cursor kind, or nullptr for the kinds that are never a match.
const kind_row* find_kind(int kind);

// Whether the search looks for the kind of a row.
inline bool is_chosen(const kind_choice& kinds, const kind_row& row) {
    return kinds.*row.field;
}

} // namespace search
