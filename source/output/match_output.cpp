#include "output/match_output.hpp"

#include "core/searcher.hpp"
#include "output/highlighter.hpp"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <iterator>

namespace search {

namespace {

// Length of the well-formed UTF-8 sequence at text[i], or 0: no overlong forms, no
// surrogates, nothing above U+10FFFF.
std::size_t utf8_sequence(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned lead = byte(i);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned low = 0x80;
    unsigned high = 0xbf; // the bounds of the second byte
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    if (text.size() - i < length || byte(i + 1) < low || byte(i + 1) > high) {
        return 0;
    }
    for (std::size_t k = 2; k < length; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80) {
            return 0;
        }
    }
    return length;
}

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

void write_json(const match& found) {
    const nlohmann::ordered_json record = {
        {"type", "match"},
        {"path", bytes_field(found.path)},
        {"start_line", found.start_line},
        {"end_line", found.end_line},
        {"column", found.column},
        {"kind", found.kind_name},
        {"name", bytes_field(found.name)},
        {"text", bytes_field(found.snippet)},
    };
    std::string line = record.dump();
    line += '\n';
    fmt::print(stdout, "{}", line);
}

// grep's format: the snippet's first line, without a carriage return before its line feed.
void write_vimgrep(const match& found) {
    std::string_view first_line = found.snippet.substr(0, found.snippet.find('\n'));
    if (!first_line.empty() && first_line.back() == '\r') {
        first_line.remove_suffix(1);
    }
    fmt::print(stdout, "{}:{}:{}:{}\n", found.path, found.start_line, found.column, first_line);
}

} // namespace

void searcher::print_match(std::string_view path, std::uint32_t start_line, std::uint32_t end_line,
                           std::string_view snippet) {
    fmt::memory_buffer out;
    auto sink = std::back_inserter(out);
    if (use_color) {
        fmt::format_to(sink, "\n\x1b[1;90m// {}\x1b[0m ", path);
        fmt::format_to(sink, "\x1b[1;90m(Line: {} to {})\x1b[0m\n", start_line, end_line);
    } else {
        fmt::format_to(sink, "\n// {} ", path);
        fmt::format_to(sink, "(Line: {} to {})\n", start_line, end_line);
    }
    highlighter().highlight(snippet.data(), snippet.size(), out, use_color);
    out.push_back('\n');
    // One call holds stdout's lock for the whole block, so blocks never interleave.
    fmt::print(stdout, "{}", std::string_view(out.data(), out.size()));
}

void report_match(file_context& file, const match& found) {
    switch (searcher::format) {
    case output_format::blocks:
        searcher::print_match(found.path, found.start_line, found.end_line, found.snippet);
        break;
    case output_format::json:
        write_json(found);
        break;
    case output_format::vimgrep:
        write_vimgrep(found);
        break;
    case output_format::files:
        file.matched = true;
        break;
    }
}

void finish_file(const file_context& file) {
    if (searcher::format == output_format::files && file.matched) {
        fmt::print(stdout, "{}\n", file.path);
    }
}

std::FILE* message_stream() {
    return searcher::format == output_format::blocks ? stdout : stderr;
}

} // namespace search
