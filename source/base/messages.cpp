#include "base/messages.hpp"

#include "base/progress_line.hpp"
#include "base/standard_streams.hpp"
#include "base/visible_text.hpp"

namespace search {

void report(std::string_view subject, std::string_view reason) noexcept {
    try {
        std::string line = "pyrn: ";
        line.append(subject).append(": ").append(reason);
        std::string text;
        append_line(text, stderr, line);
        const progress_line::pause off_the_terminal(false);
        write_text(stderr, text);
    } catch (...) {
        // Nowhere left to say it.
    }
}

void report(std::string_view text) noexcept {
    try {
        std::string line;
        append_line(line, stderr, std::string("pyrn: ").append(text));
        const progress_line::pause off_the_terminal(false);
        write_text(stderr, line);
    } catch (...) {
        // Nowhere left to say it.
    }
}

std::string_view shown_on(std::FILE* stream, std::string_view text, std::string& storage) {
    if (!is_terminal(stream)) {
        return text;
    }
    const bool ended = !text.empty() && text.back() == '\n';
    const std::string_view line = ended ? text.substr(0, text.size() - 1) : text;
    const std::string_view shown = visible_controls(line, storage, line_breaks::shown);
    if (shown.data() == line.data()) {
        return text;
    }
    if (ended) {
        storage += '\n';
    }
    return storage;
}

void append_line(std::string& out, std::FILE* stream, std::string_view line) {
    std::string storage;
    out.append(is_terminal(stream) ? visible_controls(line, storage, line_breaks::shown) : line);
    out += '\n';
}

void write_text(std::FILE* stream, std::string_view text) noexcept {
    std::fwrite(text.data(), 1, text.size(), stream);
}

void say_formatted(std::FILE* stream, fmt::string_view format, fmt::format_args args) noexcept {
    try {
        const std::string text = fmt::vformat(format, args);
        std::string storage;
        write_text(stream, shown_on(stream, text, storage));
    } catch (...) {
        // The line is lost; what the search finds is not.
    }
}

} // namespace search
