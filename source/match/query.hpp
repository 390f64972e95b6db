#pragma once

// The query as the pre-filter and the name and text tests use it: bytes, or a regular
// expression (--regex); with ASCII case or without (-i); against a cursor's name, or against
// its qualified name when the query holds "::".

#include "core/search_types.hpp"

#include <memory>
#include <string>
#include <string_view>

namespace search {

struct compiled_regex;

// How the query is compared.
struct query_options {
    bool exact_match = false;
    bool ignore_case = false;
    bool use_regex = false;
    // A chosen kind puts every cursor to the text test: no name test applies.
    bool text_tested = false;
};

// A query with what it needs compiled once: made before any worker exists, then only read.
class query {
public:
    query();
    // A --regex query is compiled here; a malformed one leaves its message in error().
    query(std::string text, query_options options);
    query(query&&) noexcept;
    query& operator=(query&&) noexcept;
    ~query();

    // RE2's message for a malformed expression, else empty.
    const std::string& error() const { return malformed; }
    std::string_view text() const { return pattern; }
    const query_options& options() const { return how; }

    // Whether the name test compares qualified names ("::ns::cls::name").
    bool is_qualified() const;

    // Whether a cursor's name decides (a query, and no kind whose text decides).
    bool name_test_applies() const;

    // The bytes that the pre-filter finds in every file it passes, case and all, for an index
    // to narrow the files read; empty when there are none such (a --regex query, -i).
    std::string_view required_bytes() const;

    // Whether content holds what every match needs: the query, only its last component for a
    // qualified name test, or the literals of the expression.
    bool passes_pre_filter(std::string_view content) const;

    // The name test's comparison: the query in the name (-E: the name itself, or for a
    // qualified name its end after a "::").
    bool name_matches(std::string_view name) const;

    // The name test of a qualified query, split at its last "::": the part after it in the
    // name's last component (-E: equal to it), the part before it at the end of the name's
    // scopes (-E: all of them, or those after a "::"). A --regex pattern that cannot be split
    // there is compared with the whole qualified name.
    bool qualified_name_matches(const scoped_name& name) const;

    // The text test's comparison: the query anywhere in the text.
    bool text_matches(std::string_view text) const;

private:
    bool equal(std::string_view a, std::string_view b) const;
    bool contains(std::string_view text, std::string_view piece) const;
    bool scopes_match(std::string_view scopes, std::string_view outer) const;
    // The bytes a file must hold when the query is no expression.
    std::string_view plain_needle() const;
    std::string compile();

    std::string pattern;
    query_options how;
    std::unique_ptr<compiled_regex> compiled; // --regex only
    std::string malformed;
};

} // namespace search
