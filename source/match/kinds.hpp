#pragma once

// The cursor kinds that can be a match, with the settings that enable them.

#include <string_view>

namespace search {

// A kind that can be a match: the setting that enables it, its name in machine-readable
// output, and whether it belongs to the expression group (printed as its source line and
// never passed by the exact name test).
struct kind_row {
    int kind;
    const bool* enabled;
    std::string_view name;
    bool expression;
};

// The row of a libclang cursor kind, or nullptr for the kinds that are never a match.
const kind_row* find_kind(int kind);

// Whether a kind is enabled that makes every cursor face the text test instead of the name
// test (typedef, the casts, throw, for).
bool text_test_enabled();

} // namespace search
