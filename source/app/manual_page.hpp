#pragma once

// The manual page: a hand-written template whose lines "@options GROUP@" become the entries of
// the options of that group (option_table.hpp), in the order of the help listing, and whose
// line "@kind options@" becomes the list of the kind options.

#include <string>
#include <string_view>

namespace pyrn {

// The page. Throws std::invalid_argument when a marker names no group, or a group of the table
// has no marker or more than one.
std::string manual_page(std::string_view page_template);

} // namespace pyrn
