#include "base/visible_text.hpp"

#include <fmt/format.h>

#include <iterator>

namespace search {

namespace {

constexpr int no_control = -1;

// The control character at text[i], or no_control; length tells how many bytes that takes.
int control_at(std::string_view text, std::size_t i, line_breaks breaks, std::size_t& length) {
    const auto byte = static_cast<unsigned char>(text[i]);
    length = 1;
    if (byte < 0x80) {
        const bool feed_after =
            i + 1 < text.size() ? text[i + 1] == '\n' : breaks == line_breaks::kept_ended;
        const bool line_end =
            breaks != line_breaks::shown && (byte == '\n' || (byte == '\r' && feed_after));
        const bool shown_raw = byte >= 0x20 || byte == '\t' || line_end;
        return shown_raw && byte != 0x7f ? no_control : byte;
    }
    length = utf8_sequence(text, i);
    if (length == 0) {
        length = 1;
        return byte <= 0x9f ? byte : no_control;
    }
    const auto second = static_cast<unsigned char>(text[i + 1]);
    return length == 2 && byte == 0xc2 && second <= 0x9f ? second : no_control;
}

void append_visible(std::string& out, int control) {
    if (control < 0x20) {
        out += '^';
        out += static_cast<char>(control + 0x40);
    } else if (control == 0x7f) {
        out += "^?";
    } else {
        fmt::format_to(std::back_inserter(out), "<{:02x}>", control);
    }
}

} // namespace

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

std::string_view visible_controls(std::string_view text, std::string& storage, line_breaks breaks) {
    bool changed = false;
    std::size_t plain_from = 0;
    for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
        const int control = control_at(text, i, breaks, length);
        if (control == no_control) {
            continue;
        }
        if (!changed) {
            storage.clear();
            changed = true;
        }
        storage.append(text, plain_from, i - plain_from);
        append_visible(storage, control);
        plain_from = i + length;
    }
    if (!changed) {
        return text;
    }
    storage.append(text, plain_from, std::string_view::npos);
    return storage;
}

} // namespace search
