#include "output/match_output.hpp"

#include "base/messages.hpp"
#include "base/progress_line.hpp"
#include "base/visible_text.hpp"
#include "output/highlighter.hpp"
#include "output/ordered_output.hpp"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <iterator>

namespace search {

namespace {

bool is_valid_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8_sequence(text, i);
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string base64(std::string_view bytes) {
    static constexpr char digits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
        if (left > 1) {
            group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        }
        if (left > 2) {
            group |= static_cast<unsigned char>(bytes[i + 2]);
        }
        out += digits[group >> 18 & 63];
        out += digits[group >> 12 & 63];
        out += left > 1 ? digits[group >> 6 & 63] : '=';
        out += left > 2 ? digits[group & 63] : '=';
    }
    return out;
}

// Raw bytes as JSON: {"text": ...} when they are UTF-8, else {"bytes": base64}, so that
// every line is valid JSON and the bytes come back exactly.
nlohmann::ordered_json bytes_field(std::string_view bytes) {
    if (is_valid_utf8(bytes)) {
        return {{"text", bytes}};
    }
    return {{"bytes", base64(bytes)}};
}

// JSON escapes C0 but leaves DEL and C1 (U+0080 to U+009F), which a terminal may take as
// controls, as they are: on a terminal they are written as \u escapes, the same strings.
void escape_c1(std::string& json) {
    std::string escaped;
    std::size_t plain_from = 0;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const auto byte = static_cast<unsigned char>(json[i]);
        const bool del = byte == 0x7f;
        const bool c1 = byte == 0xc2 && i + 1 < json.size() &&
                        static_cast<unsigned char>(json[i + 1]) <= 0x9f &&
                        static_cast<unsigned char>(json[i + 1]) >= 0x80;
        if (!del && !c1) {
            continue;
        }
        escaped.append(json, plain_from, i - plain_from);
        const auto code = del ? byte : static_cast<unsigned char>(json[++i]);
        fmt::format_to(std::back_inserter(escaped), "\\u{:04x}", code);
        plain_from = i + 1;
    }
    if (plain_from > 0) {
        escaped.append(json, plain_from, std::string::npos);
        json = std::move(escaped);
    }
}

// Text as it is printed: on a terminal with its control characters shown. A name or a line
// of source shows its line breaks too: it stays one line.
std::string_view shown(const writer_settings& settings, std::string_view text, std::string& storage,
                       line_breaks breaks = line_breaks::shown) {
    return settings.visible_controls ? visible_controls(text, storage, breaks) : text;
}

void format_block(fmt::memory_buffer& out, const writer_settings& settings, std::string_view path,
                  std::uint32_t start_line, std::uint32_t end_line, std::string_view snippet) {
    std::string shown_path;
    std::string shown_snippet;
    path = shown(settings, path, shown_path);
    // A line feed follows the snippet: a CRLF file's last carriage return stays as it is.
    snippet = shown(settings, snippet, shown_snippet, line_breaks::kept_ended);
    auto sink = std::back_inserter(out);
    const bool use_color = settings.use_color;
    if (use_color) {
        fmt::format_to(sink, "\n\x1b[1;90m// {}\x1b[0m ", path);
        fmt::format_to(sink, "\x1b[1;90m(Line: {} to {})\x1b[0m\n", start_line, end_line);
    } else {
        fmt::format_to(sink, "\n// {} ", path);
        fmt::format_to(sink, "(Line: {} to {})\n", start_line, end_line);
    }
    highlighter().highlight(snippet.data(), snippet.size(), out, use_color);
    out.push_back('\n');
}

} // namespace

match_writer::match_writer(const writer_settings& settings) : chosen(settings) {
    switch (settings.format) {
    case output_format::blocks:
        record = block_record{};
        break;
    case output_format::json:
        record = json_record{};
        break;
    case output_format::vimgrep:
        record = vimgrep_record{};
        break;
    case output_format::files:
        record = file_list_record{};
        break;
    }
}

void match_writer::report(file_context& file, const match& found) const {
    progress_line::match_found();
    std::visit([&](auto format) { write(file, found, format); }, record);
}

// A match's record: written at once, or held with the file's output.
void match_writer::emit(file_context& file, std::string_view text, const match& found) const {
    if (file.held != nullptr) {
        file.held->add_match(text, found.start_line, found.column);
    } else {
        write_out(text);
    }
}

void match_writer::write(file_context& file, const match& found, block_record) const {
    fmt::memory_buffer out;
    format_block(out, chosen, found.path, found.start_line, found.end_line, found.snippet);
    emit(file, std::string_view(out.data(), out.size()), found);
}

void match_writer::write(file_context& file, const match& found, json_record) const {
    const nlohmann::ordered_json record = {
        {"type", "match"},
        {"path", bytes_field(found.path)},
        {"start_line", found.start_line},
        {"end_line", found.end_line},
        {"column", found.column},
        {"name_line", found.name_line},
        {"name_column", found.name_column},
        {"kind", found.kind_name},
        {"name", bytes_field(found.name)},
        {"text", bytes_field(found.snippet)},
    };
    std::string line = record.dump();
    if (chosen.visible_controls) {
        escape_c1(line);
    }
    line += '\n';
    emit(file, line, found);
}

// grep's format, at the name: a jump lands on it, and its line says which entity it is.
void match_writer::write(file_context& file, const match& found, vimgrep_record) const {
    std::string path;
    std::string line;
    fmt::memory_buffer out;
    fmt::format_to(std::back_inserter(out), "{}:{}:{}:{}\n", shown(chosen, found.path, path),
                   found.name_line, found.name_column, shown(chosen, found.name_line_text, line));
    emit(file, std::string_view(out.data(), out.size()), found);
}

void match_writer::write(file_context& file, const match&, file_list_record) const {
    file.matched = true;
}

void match_writer::print_block(std::string_view path, std::uint32_t start_line,
                               std::uint32_t end_line, std::string_view snippet) const {
    fmt::memory_buffer out;
    format_block(out, chosen, path, start_line, end_line, snippet);
    write_out(std::string_view(out.data(), out.size()));
}

void write_out(std::string_view text) {
    const progress_line::pause off_the_terminal(true);
    // One call holds stdout's lock for the whole text, so records never interleave.
    fmt::print(stdout, "{}", text);
}

void match_writer::finish(file_context& file) const {
    if (chosen.format != output_format::files || !file.matched) {
        return;
    }
    std::string path;
    const std::string_view end = chosen.null_separated ? std::string_view("\0", 1) : "\n";
    const std::string line = fmt::format("{}{}", shown(chosen, file.path, path), end);
    if (file.held != nullptr) {
        file.held->add(line);
    } else {
        write_out(line);
    }
}

void match_writer::message(file_context& file, std::string_view text) const {
    std::FILE* const stream = message_stream();
    std::string storage;
    text = shown_on(stream, text, storage);
    if (file.held != nullptr && stream == stdout) {
        file.held->add(text);
    } else {
        const progress_line::pause off_the_terminal(stream == stdout);
        write_text(stream, text);
    }
}

std::FILE* match_writer::message_stream() const {
    return chosen.format == output_format::blocks ? stdout : stderr;
}

} // namespace search
