#pragma once

// Bytes as a terminal may take them: a source file or a file name can hold escape sequences
// that would set the clipboard, the title or clear the screen, or a line break that would
// start a line of its own.

#include <cstddef>
#include <string>
#include <string_view>

namespace search {

// What visible_controls does with line breaks.
enum class line_breaks {
    kept,       // a line feed passes, and so does a carriage return before one
    kept_ended, // the same, and a line feed follows the text: a carriage return ending it passes
    shown,      // shown as ^J and ^M: the text stays on one line
};

// Length of the well-formed UTF-8 sequence at text[i], or 0: no overlong forms, no
// surrogates, nothing above U+10FFFF.
std::size_t utf8_sequence(std::string_view text, std::size_t i);

// text with its control characters shown: C0 but tab (and the line breaks that breaks keeps)
// in caret notation, ^[ for ESC and ^? for DEL, and C1, U+0080 to U+009F or a byte 0x80 to
// 0x9F outside a UTF-8 sequence, as <9b>. text itself when it holds none, else a view of
// storage.
std::string_view visible_controls(std::string_view text, std::string& storage,
                                  line_breaks breaks = line_breaks::kept);

} // namespace search
