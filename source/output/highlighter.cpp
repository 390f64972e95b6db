#include "output/highlighter.hpp"

#include <iterator>
#include <unordered_set>

namespace search {

namespace {

constexpr std::string_view keyword_table[] = {
    "alignas",
    "alignof",
    "and",
    "and_eq",
    "asm",
    "atomic_cancel",
    "atomic_commit",
    "atomic_noexcept",
    "bitand",
    "bitor",
    "break",
    "case",
    "catch",
    "class",
    "compl",
    "concept",
    "consteval",
    "constexpr",
    "constinit",
    "const",
    "const_cast",
    "continue",
    "co_await",
    "co_return",
    "co_yield",
    "decltype",
    "default",
    "delete",
    "do",
    "dynamic_cast",
    "else",
    "explicit",
    "export",
    "extern",
    "for",
    "friend",
    "goto",
    "if",
    "inline",
    "mutable",
    "namespace",
    "new",
    "noexcept",
    "not",
    "not_eq",
    "nullptr",
    "operator",
    "or",
    "or_eq",
    "private",
    "protected",
    "public",
    "reflexpr",
    "register",
    "reinterpret_cast",
    "requires",
    "return",
    "sizeof",
    "static",
    "static_assert",
    "static_cast",
    "struct",
    "switch",
    "synchronized",
    "template",
    "this",
    "thread_local",
    "throw",
    "try",
    "typedef",
    "typeid",
    "typename",
    "union",
    "using",
    "virtual",
    "void",
    "volatile",
    "while",
    "xor",
    "xor_eq",
};

constexpr std::string_view type_table[] = {
    "auto",    "bool",    "char",     "char8_t",  "char16_t", "char32_t", "double",
    "enum",    "false",   "float",    "int",      "int8_t",   "int16_t",  "int32_t",
    "int64_t", "uint8_t", "uint16_t", "uint32_t", "uint64_t", "long",     "short",
    "signed",  "size_t",  "true",     "unsigned", "wchar_t",
};

using word_set = std::unordered_set<std::string_view>;

// Function-local statics: built once on first use (thread-safe), read-only afterwards.
const word_set& keywords() {
    static const word_set set(std::begin(keyword_table), std::end(keyword_table));
    return set;
}

const word_set& types() {
    static const word_set set(std::begin(type_table), std::end(type_table));
    return set;
}

constexpr std::string_view comment_opener = "\x1b[0;90m/*\x1b[0m";
constexpr std::string_view comment_closer = "\x1b[0;90m*/\x1b[0m";

// Bytes at which a plain run stops because a comment, word or literal may start there.
bool starts_piece(char c) {
    return c == '/' || is_quote(c) || is_identifier_start(static_cast<unsigned char>(c));
}

} // namespace

void highlighter::highlight(const char* data, std::size_t length, fmt::memory_buffer& output,
                            bool color) {
    colour = color;
    if (length == 0) {
        return;
    }
    text = std::string_view(data, length);
    out = &output;
    if (!colour) {
        // Without colour every piece is written unchanged, so the lexing is skipped.
        if (pos < length) {
            append_plain(text.substr(pos));
            pos = length;
        }
        return;
    }
    bool after_struct_or_class = false;
    while (pos < length) {
        const char c = text[pos];
        if (c == '/') {
            if (at(pos + 1, '/')) {
                line_comment();
            } else if (at(pos + 1, '*')) {
                block_comment();
            } else {
                out->push_back(c);
                ++pos;
            }
        } else if (is_identifier_start(static_cast<unsigned char>(c))) {
            after_struct_or_class = identifier(after_struct_or_class);
        } else if (is_quote(c)) {
            string_literal();
        } else {
            // Plain bytes are copied as one run up to the next byte that may start a piece.
            std::size_t end = pos + 1;
            while (end < length && !starts_piece(text[end])) {
                ++end;
            }
            append_plain(text.substr(pos, end - pos));
            pos = end;
        }
    }
}

void highlighter::append_comment_byte(char c) {
    fmt::format_to(std::back_inserter(*out), "\x1b[0;90m{}\x1b[0m", c);
}

void highlighter::line_comment() {
    // A backslash before the newline continues the comment; the ending newline is left plain.
    do {
        append_comment_byte(text[pos]);
        ++pos;
    } while (pos < text.size() && !(text[pos] == '\n' && text[pos - 1] != '\\'));
}

void highlighter::block_comment() {
    std::size_t depth = 0;
    while (pos < text.size()) {
        if (text[pos] == '*' && at(pos + 1, '/')) {
            append_plain(comment_closer);
            pos += 2;
            if (--depth == 0) {
                return;
            }
        } else if (text[pos] == '/' && at(pos + 1, '*')) {
            ++depth;
            append_plain(comment_opener);
            pos += 2;
        } else {
            append_comment_byte(text[pos]);
            ++pos;
        }
    }
}

bool highlighter::identifier(bool after_struct_or_class) {
    const std::size_t start = pos;
    while (pos < text.size() && is_identifier_byte(static_cast<unsigned char>(text[pos]))) {
        ++pos;
    }
    const std::string_view word = text.substr(start, pos - start);
    auto sink = std::back_inserter(*out);
    // A word that ends the snippet has no next byte; it is coloured as if followed by a space.
    const char next = pos < text.size() ? text[pos] : ' ';
    if (keywords().find(word) != keywords().end()) {
        fmt::format_to(sink, "\x1b[1;95m{}\x1b[0m", word);
    } else if (types().find(word) != types().end()) {
        fmt::format_to(sink, "\x1b[1;94m{}\x1b[0m", word);
    } else if (next == '(') {
        fmt::format_to(sink, "\x1b[1;93m{}\x1b[0m", word);
    } else if (next == '.') {
        fmt::format_to(sink, "\x1b[1;96m{}\x1b[0m", word);
    } else if (next == ':') {
        fmt::format_to(sink, "\x1b[1;92m{}\x1b[0m", word);
    } else if (after_struct_or_class) {
        fmt::format_to(sink, "\x1b[1;94m{}\x1b[0m", word);
    } else {
        append_plain(word);
    }
    return word == "struct" || word == "class";
}

void highlighter::string_literal() {
    const std::size_t start = pos++;
    std::size_t end = text.size();
    bool escaped = false;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c == '\\') {
            escaped = !escaped;
        } else if (escaped) {
            escaped = false;
        } else if (is_quote(c)) {
            end = pos + 1;
            break;
        }
    }
    pos = end;
    fmt::format_to(std::back_inserter(*out), "\x1b[1;91m{}\x1b[0m",
                   text.substr(start, end - start));
}

} // namespace search
