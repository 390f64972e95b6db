#pragma once

// Bytes as a terminal may take them: a source file or a file name can hold escape sequences
// that would set the clipboard, the title or clear the screen.

#include <cstddef>
#include <string>
#include <string_view>

namespace search {

// Length of the well-formed UTF-8 sequence at text[i], or 0: no overlong forms, no
// surrogates, nothing above U+10FFFF.
std::size_t utf8_sequence(std::string_view text, std::size_t i);

// text with its control characters shown: C0 but tab and line feed (a carriage return before a
// line feed stays too) in caret notation, ^[ for ESC and ^? for DEL, and C1, U+0080 to U+009F
// or a byte 0x80 to 0x9F outside a UTF-8 sequence, as <9b>. text itself when it holds none,
// else a view of storage.
std::string_view visible_controls(std::string_view text, std::string& storage);

} // namespace search
