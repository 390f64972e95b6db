#include "match/match_decision.hpp"

#include "core/searcher.hpp"
#include "match/kinds.hpp"
#include "match/query.hpp"

namespace search {

namespace {

using s = searcher;

// The line holding offset start, without its leading blanks and its line feed.
std::string_view source_line(std::string_view content, std::size_t start) {
    const std::size_t feed = content.rfind('\n', start);
    std::size_t begin = feed == std::string_view::npos ? 0 : feed + 1;
    while (begin < content.size() && (content[begin] == ' ' || content[begin] == '\t')) {
        ++begin;
    }
    std::size_t end = content.find('\n', start);
    if (end == std::string_view::npos) {
        end = content.size();
    }
    return content.substr(begin, end - begin);
}

} // namespace

bool passes_line_rule(const cursor_lines& lines) {
    return s::ignore_single_line_results ? lines.end > lines.start : lines.end >= lines.start;
}

bool passes_name_test(std::string_view name, bool expression) {
    return !(s::exact_match && expression) && name_matches(name);
}

bool passes_text_test(std::string_view snippet) {
    return s::query.empty() || !text_test_enabled() || text_matches(snippet);
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

std::uint32_t column_of(std::string_view content, std::uint32_t offset) {
    const std::size_t feed = offset == 0 ? std::string_view::npos : content.rfind('\n', offset - 1);
    const std::size_t line_start = feed == std::string_view::npos ? 0 : feed + 1;
    return offset - static_cast<std::uint32_t>(line_start) + 1;
}

} // namespace search
