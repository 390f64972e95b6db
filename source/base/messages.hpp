#pragma once

// The program's own lines on standard error. A failing standard error must not end the
// search, so these never throw.

#include <string_view>

namespace search {

// "pyrn: SUBJECT: REASON", the line of every file, folder or setting that could not be used.
void report(std::string_view subject, std::string_view reason) noexcept;

// "pyrn: TEXT".
void report(std::string_view text) noexcept;

} // namespace search
