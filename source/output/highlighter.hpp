#pragma once

#include <fmt/format.h>

#include <cstddef>
#include <string_view>

namespace search {

// Single-pass lexer that appends a snippet to an output buffer, with ANSI colours around
// keywords, type names, some identifiers, literals and comments. One object per snippet.
class highlighter {
public:
    // Appends the snippet to output; with color off the bytes are appended unchanged.
    void highlight(const char* data, std::size_t length, fmt::memory_buffer& output, bool color);

private:
    std::string_view text;
    fmt::memory_buffer* out = nullptr;
    std::size_t pos = 0;
    bool colour = true;

    // Each runs with pos at the first byte of its piece, appends it and moves pos past it.
    void line_comment();
    void block_comment();
    bool identifier(bool after_struct_or_class);
    void string_literal();

    void append_plain(std::string_view piece) {
        out->append(piece.data(), piece.data() + piece.size());
    }
    void append_comment_byte(char c);

    bool at(std::size_t index, char c) const { return index < text.size() && text[index] == c; }
};

// True for bytes that start a word: ASCII letters, '_' and every byte 0x80 to 0xFF.
inline bool is_identifier_start(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80;
}

inline bool is_identifier_byte(unsigned char c) {
    return is_identifier_start(c) || (c >= '0' && c <= '9');
}

inline bool is_quote(char c) {
    return c == '\'' || c == '"';
}

} // namespace search
