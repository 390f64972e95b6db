#include "match/match_decision.hpp"

#include "base/paths.hpp"
#include "match/kinds.hpp"
#include "match/query.hpp"

#include <algorithm>

namespace search {

std::string_view source_line(std::string_view content, std::size_t offset) {
    const std::size_t feed = content.rfind('\n', offset);
    std::size_t begin = feed == std::string_view::npos ? 0 : feed + 1;
    while (begin < content.size() && (content[begin] == ' ' || content[begin] == '\t')) {
        ++begin;
    }
    std::size_t end = content.find('\n', offset);
    if (end == std::string_view::npos) {
        end = content.size();
    }
    return content.substr(begin, end - begin);
}

void place_name(match& found, std::string_view content, const cursor_span& span,
                std::uint32_t name_offset) {
    const std::uint32_t at = name_offset < content.size() ? name_offset : span.offset;
    // Counted from the entity's start, whose line is known: the name is near it.
    const auto lines_between = [&](std::uint32_t from, std::uint32_t to) {
        const std::string_view between = content.substr(from, to - from);
        return static_cast<std::uint32_t>(std::count(between.begin(), between.end(), '\n'));
    };
    found.name_line = at >= span.offset ? found.start_line + lines_between(span.offset, at)
                                        : found.start_line - lines_between(at, span.offset);
    found.name_column = column_of(content, at);
    std::string_view text = source_line(content, at);
    if (!text.empty() && text.back() == '\r') {
        text.remove_suffix(1);
    }
    found.name_line_text = text;
}

bool passes_line_rule(const match_rules& rules, const cursor_lines& lines) {
    return rules.ignore_single_line_results ? lines.end > lines.start : lines.end >= lines.start;
}

bool passes_name_test(const match_rules& rules, std::string_view name, bool expression) {
    return !(rules.query.options().exact_match && expression) && rules.query.name_matches(name);
}

bool passes_text_test(const match_rules& rules, std::string_view snippet) {
    const search::query& query = rules.query;
    return query.text().empty() || !query.options().text_tested || query.text_matches(snippet);
}

bool reached_first_time(file_context& file, int kind, const cursor_span& span) {
    return file.reported.insert({kind, span}).second;
}

bool cut_snippet(const cursor_span& span, bool expression, std::string_view content,
                 std::string_view& snippet) {
    if (span.offset >= content.size()) {
        return false;
    }
    if (expression) {
        snippet = source_line(content, span.offset);
        return true;
    }
    // An end past the content lies in a macro argument or another file: the raw offsets
    // do not measure the entity's text then.
    if (span.length > content.size() - span.offset) {
        return false;
    }
    snippet = content.substr(span.offset, span.length);
    return true;
}

namespace {

bool is_identifier_byte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

// Whether text begins with the word, and no identifier goes on after it.
bool begins_with_word(std::string_view text, std::string_view word) {
    return text.substr(0, word.size()) == word &&
           (text.size() == word.size() || !is_identifier_byte(text[word.size()]));
}

// An operator's reference is written as the operator ("<<", "[", "new"), as an explicit call
// ("operator<<"), or for a literal's suffix as the literal.
bool is_written_operator(std::string_view written, std::string_view symbol) {
    while (!symbol.empty() && symbol[0] == ' ') {
        symbol.remove_prefix(1);
    }
    if (symbol.empty() || starts_with(written, "operator") || starts_with(symbol, "\"\"")) {
        return true;
    }
    if (is_identifier_byte(symbol[0])) { // new, delete, co_await, a conversion's type
        return begins_with_word(written, symbol.substr(0, symbol.find_first_of(" [")));
    }
    return !written.empty() && written[0] == symbol[0];
}

} // namespace

bool is_written_reference(std::string_view content, std::uint32_t offset, std::string_view name) {
    if (name.empty() || offset >= content.size()) {
        return true;
    }
    const std::string_view written = content.substr(offset);
    constexpr std::string_view keyword = "operator";
    if (begins_with_word(name, keyword)) {
        return is_written_operator(written, name.substr(keyword.size()));
    }
    if (name[0] == '~') {
        return starts_with(written, "~");
    }
    return !is_identifier_byte(name[0]) || begins_with_word(written, name);
}

std::uint32_t column_of(std::string_view content, std::uint32_t offset) {
    const std::size_t feed = offset == 0 ? std::string_view::npos : content.rfind('\n', offset - 1);
    const std::size_t line_start = feed == std::string_view::npos ? 0 : feed + 1;
    return offset - static_cast<std::uint32_t>(line_start) + 1;
}

} // namespace search
