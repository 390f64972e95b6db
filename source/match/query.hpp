#pragma once

// The query as the pre-filter and the name and text tests use it: bytes, or a regular
// expression (--regex); with ASCII case or without (-i); against a cursor's name, or against
// its qualified name when the query holds "::".

#include "core/search_types.hpp"

#include <string>
#include <string_view>

namespace search {

// Compiles a --regex query and works out the literals its matches need. Called once by the
// driver once the settings are complete; false, with RE2's message, for a malformed one.
bool prepare_query(std::string& error);

// Whether the name test compares qualified names ("::ns::cls::name").
bool is_qualified_query();

// Whether a cursor's name decides (a query, and no kind whose text decides).
bool name_test_applies();

// Whether content holds what every match needs: the query, only its last component for a
// qualified name test, or the literals of the expression.
bool passes_pre_filter(std::string_view content);

// The bytes that the pre-filter finds in every file it passes, case and all, for an index to
// narrow the files read; empty when there are none such (a --regex query, -i).
std::string_view required_bytes();

// The name test's comparison: the query in the name (-E: the name itself, or for a qualified
// name its end after a "::").
bool name_matches(std::string_view name);

// The name test of a qualified query, split at its last "::": the part after it in the name's
// last component (-E: equal to it), the part before it at the end of the name's scopes (-E: all
// of them, or those after a "::"). A --regex pattern that cannot be split there is compared
// with the whole qualified name.
bool qualified_name_matches(const scoped_name& name);

// The text test's comparison: the query anywhere in the text.
bool text_matches(std::string_view text);

} // namespace search
