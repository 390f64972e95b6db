#pragma once

// The options of pyrn's command line, one row each: the parser's set-up, the kinds each kind
// option chooses, and what the manual page and the shell completions (written by the build
// from these rows, see docs_main.cpp) say and offer.

#include "core/kind_choice.hpp"

#include <array>
#include <cstddef>
#include <string_view>

namespace pyrn {

// The section of the manual page's OPTIONS that describes an option.
enum class option_group { general, kinds, parsing, walk, output, query, build, cache };

// What an option takes after its name.
enum class takes {
    nothing, // a flag: given or not
    text,    // one value
    number,  // one value, a decimal int
    texts,   // one value each time it is given, as often as wanted
};

// What the shell completions offer for an option's value.
enum class value_hint { none, directory, file, words };

struct option_value {
    takes kind = takes::nothing;
    // The value's name in the manual page and the completions: "pattern", "directory".
    std::string_view name = {};
    value_hint hint = value_hint::none;
    // The values offered for value_hint::words, separated by spaces.
    std::string_view words = {};
    // The value when the option is not given, shown in the help listing ("" for texts: an
    // empty list); nullptr for none, so that the option cannot be given without its value.
    const char* fallback = nullptr;
};

struct option_row {
    // One or two names; the second empty for one.
    std::array<std::string_view, 2> names;
    option_group group;
    // The help listing's text; the manual page's entry starts with it.
    std::string_view help;
    // The rest of the manual page's entry, in roff.
    std::string_view manual = {};
    option_value value = {};
    // A kind option's fields, the unused places null. An option that chooses a kind of the
    // expression group adds it to the other kinds and is no kind option.
    std::array<bool search::kind_choice::*, 4> kinds = {};
    // The rows that share a name here (standing next to each other) are mutually exclusive.
    std::string_view exclusive_group = {};
    // The options, by name, that the driver refuses with this one, so that the completions
    // stop offering them; "*" for all of them and the arguments too (help, version).
    std::string_view conflicts = {};
    // argparse adds the option itself (the version).
    bool from_parser = false;
};

// The rows in the order of the help listing.
struct option_rows {
    const option_row* first;
    std::size_t count;
    const option_row* begin() const { return first; }
    const option_row* end() const { return first + count; }
};
option_rows all_options();

// The row of an option name, or nullptr.
const option_row* find_option(std::string_view name);

// Whether a row chooses kinds of entities: a kind option, or --include-expressions.
bool chooses_kinds(const option_row& row);

// Whether a row is a kind option: one of those that, given, narrow the search to the kinds
// that the given ones choose.
bool is_kind_option(const option_row& row);

} // namespace pyrn
