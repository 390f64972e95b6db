#include "cache/record_names.hpp"

#include <clang-c/Index.h>

namespace search {

namespace {

bool is_identifier_byte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
           (byte >= '0' && byte <= '9') || byte == '_' || byte == '$' || byte >= 0x80;
}

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The length of the escaped line ends at the front of text, and of the blanks and line ends
// among them when blanks may stand there.
std::size_t skipped_at(std::string_view text, bool blanks) {
    std::size_t at = 0;
    while (at < text.size()) {
        const char c = text[at];
        if (blanks && (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')) {
            ++at;
        } else if (c == '\\' && starts_with(text.substr(at + 1), "\n")) {
            at += 2;
        } else if (c == '\\' && starts_with(text.substr(at + 1), "\r\n")) {
            at += 3;
        } else {
            break;
        }
    }
    return at;
}

// The bytes of name at the front of text, with blanks between its tokens (where the name has a
// space, or beside a byte that is no identifier's), and not followed by an identifier byte when
// it ends in one: "f" does not stand at "foo", nor "probe" at "pro be".
bool spelled_at(std::string_view text, std::string_view name) {
    std::size_t at = 0;
    bool after_space = false;
    char before = 0;
    for (const char c : name) {
        if (c == ' ') {
            after_space = true;
            continue;
        }
        const bool between_tokens =
            after_space || (before != 0 && (!is_identifier_byte(c) || !is_identifier_byte(before)));
        at += skipped_at(text.substr(at), between_tokens);
        if (at >= text.size() || text[at] != c) {
            return false;
        }
        ++at;
        before = c;
        after_space = false;
    }
    return name.empty() || !is_identifier_byte(name.back()) || at >= text.size() ||
           !is_identifier_byte(text[at]);
}

bool starts_with_word(std::string_view text, std::string_view word) {
    return starts_with(text, word) &&
           (text.size() == word.size() || !is_identifier_byte(text[word.size()]));
}

bool is_tag(int kind) {
    return kind == CXCursor_StructDecl || kind == CXCursor_UnionDecl ||
           kind == CXCursor_ClassDecl || kind == CXCursor_EnumDecl;
}

bool is_reference(int kind) {
    return kind == CXCursor_DeclRefExpr || kind == CXCursor_MemberRefExpr ||
           kind == CXCursor_MemberRef;
}

// The keyword of "(unnamed struct at ...)" or "(anonymous union at ...)", or nothing.
std::string_view unnamed_keyword(std::string_view name) {
    for (std::string_view prefix : {"(unnamed ", "(anonymous "}) {
        if (starts_with(name, prefix) && name.back() == ')') {
            const std::string_view rest = name.substr(prefix.size());
            for (std::string_view keyword : {"struct", "union", "class", "enum", "namespace"}) {
                if (starts_with(rest, keyword) &&
                    starts_with(rest.substr(keyword.size()), " at ")) {
                    return keyword;
                }
            }
        }
    }
    return {};
}

// The last component of the scopes of a qualified name: the class a member is declared in.
std::string_view innermost_scope(const scoped_name& qualified) {
    const std::string_view scopes = qualified.scopes();
    const std::size_t colons = scopes.rfind("::");
    return colons == std::string_view::npos ? scopes : scopes.substr(colons + 2);
}

bool declaration_name_stands_at(int kind, std::string_view name, const scoped_name& qualified,
                                std::string_view text) {
    if (starts_with_word(name, "operator")) {
        return starts_with_word(text, "operator");
    }
    const std::string_view keyword = unnamed_keyword(name);
    if (!keyword.empty()) {
        return starts_with_word(text, keyword) || (!text.empty() && is_identifier_byte(text[0]) &&
                                                   !(text[0] >= '0' && text[0] <= '9'));
    }
    if (name[0] == '~' && starts_with(text, "~")) {
        return true;
    }
    const std::size_t arguments = name.find('<');
    if (arguments != std::string_view::npos && spelled_at(text, name.substr(0, arguments))) {
        return true;
    }
    if (is_tag(kind)) {
        for (std::string_view tag_keyword : {"struct", "union", "class", "enum"}) {
            if (starts_with_word(text, tag_keyword)) {
                return true;
            }
        }
    }
    return kind == CXCursor_UsingDeclaration && name == innermost_scope(qualified);
}

// Whether a word begins at at: its byte starts an identifier and is not inside one.
bool word_begins_at(std::string_view content, std::uint32_t at) {
    const char c = content[at];
    return is_identifier_byte(c) && !(c >= '0' && c <= '9') &&
           (at == 0 || !is_identifier_byte(content[at - 1]));
}

} // namespace

bool name_stands_at(int kind, std::string_view name, const scoped_name& qualified,
                    std::string_view content, std::uint32_t at) {
    if (name.empty() || at >= content.size()) {
        return true;
    }
    const std::string_view text = content.substr(at);
    return spelled_at(text, name) || declaration_name_stands_at(kind, name, qualified, text) ||
           (is_reference(kind) && !word_begins_at(content, at));
}

} // namespace search
